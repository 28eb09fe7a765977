// A Win32 handle that closes itself, and the complete write loop of the Win32 layers (Windows
// builds only).
#pragma once

#include <windows.h>

#include <cstddef>
#include <string_view>

class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() {
    if (ok()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  bool ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }
  void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (ok()) CloseHandle(handle_);
    handle_ = handle;
  }
  // Gives the handle up: it stays open, and this no longer owns it.
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  // Closes now; 0, or the error of the close.
  DWORD Close() {
    HANDLE handle = Release();
    return CloseHandle(handle) ? 0 : GetLastError();
  }

 private:
  HANDLE handle_;
};

// Writes all of `data` at the handle's position; 0, or the Windows error code of the failing
// write. A write that moves less than asked means the disk is full.
DWORD WriteAll(HANDLE handle, std::string_view data);
