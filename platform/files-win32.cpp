// The data file through the Win32 file API. Windows error codes are the tool's own
// input/output codes, so every failure raises GetLastError's code as it is.
#include <windows.h>

#include <cstdint>
#include <string>

#include "base/Errors.h"
#include "platform/files.h"
#include "platform/win32-handle.h"

namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The attributes a file can be given by name.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_TEMPORARY;

[[noreturn]] void RaiseLastError() { RaiseInOutError(static_cast<int>(GetLastError())); }

DWORD SetSize(HANDLE file, std::uint64_t size) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
    return GetLastError();
  }
  return 0;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The directory part of `path` with its separator ("" for a bare name), ready for a file
// name to be appended.
std::string DirectoryPrefix(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1]) && path[end - 1] != ':') --end;
  return path.substr(0, end);
}

// The full name of the file that `path` leads to, through any symbolic link (also links that
// Wine shows as plain files); `path` itself when it cannot be found out.
std::string FinalTarget(const std::string& path) {
  Handle file(CreateFileA(path.c_str(), 0, kShareReadWrite | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return path;
  char buffer[MAX_PATH * 4];
  DWORD length = GetFinalPathNameByHandleA(file.get(), buffer, sizeof buffer, VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof buffer) return path;
  return std::string(buffer, length);
}

// Creates a file that did not exist, with a short unique name in `directory` (the name
// of the temporary file is no longer than the data file's usual name, so it fits wherever
// that does). Returns the error of the last attempt when none can be created.
DWORD CreateTempFile(const std::string& directory, Handle* file, std::string* name) {
  static const char kHex[] = "0123456789ABCDEF";
  DWORD seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
  DWORD error = ERROR_FILE_EXISTS;
  for (DWORD attempt = 0; attempt < 64 && error == ERROR_FILE_EXISTS; ++attempt) {
    DWORD number = (seed + attempt * 40503u) & 0xFFFF;
    std::string candidate = directory + "kx";
    for (int shift = 12; shift >= 0; shift -= 4) candidate += kHex[(number >> shift) & 0xF];
    candidate += ".tmp";
    HANDLE handle = CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      file->Reset(handle);
      *name = candidate;
      return 0;
    }
    error = GetLastError();
  }
  return error;
}

// Rewrites the file in place: the new size is reserved first, so that a full disk fails
// before the old contents are touched.
void RewriteInPlace(const std::string& path, const std::string& bytes) {
  Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, kShareReadWrite, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) RaiseLastError();
  LARGE_INTEGER old_size;
  if (!GetFileSizeEx(file.get(), &old_size)) RaiseLastError();
  DWORD error = 0;
  if (bytes.size() > static_cast<std::uint64_t>(old_size.QuadPart)) {
    error = SetSize(file.get(), bytes.size());
    if (error != 0) RaiseInOutError(static_cast<int>(error));
  }
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) RaiseLastError();
  error = WriteAll(file.get(), bytes);
  if (error == 0) error = SetSize(file.get(), bytes.size());
  if (error == 0 && !FlushFileBuffers(file.get())) error = GetLastError();
  if (error == 0) error = file.Close();
  if (error != 0) RaiseInOutError(static_cast<int>(error));
}

}  // namespace

DataFile::DataFile(const std::string& name, FileAccess access) {
  DWORD rights = access == FileAccess::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  Handle file(CreateFileA(name.c_str(), rights, kShareReadWrite, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) RaiseLastError();
  // Only a file on disk is a data file: a pipe or a device is refused before anything is read.
  if (GetFileType(file.get()) != FILE_TYPE_DISK) RaiseInOutError(kAccessDenied);
  // Windows refuses to open a read-only file for writing; under Wine a privileged user is
  // not refused, so the attribute is tested as well.
  BY_HANDLE_FILE_INFORMATION info;
  if (access == FileAccess::kReadWrite && GetFileInformationByHandle(file.get(), &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    RaiseInOutError(kAccessDenied);
  }
  handle_ = reinterpret_cast<std::intptr_t>(file.Release());
}

DataFile::~DataFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::size_t DataFile::Read(void* buffer, std::size_t size) {
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  char* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    std::size_t left = size - done;
    DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(file, out + done, chunk, &got, nullptr)) RaiseLastError();
    if (got == 0) break;
    done += got;
  }
  return done;
}

void ReplaceDataFile(const std::string& name, const std::string& bytes) {
  DWORD attributes = GetFileAttributesA(name.c_str());
  bool had_old = attributes != INVALID_FILE_ATTRIBUTES;
  if (!had_old && GetLastError() != ERROR_FILE_NOT_FOUND) RaiseLastError();
  if (had_old && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    RaiseInOutError(kAccessDenied);
  }
  std::string path = had_old ? FinalTarget(name) : name;
  if (had_old) {
    // The old file must be one this user may write, as for an in-place rewrite; a file that
    // another program holds without sharing fails here too.
    Handle probe(CreateFileA(path.c_str(), GENERIC_WRITE, kShareReadWrite | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!probe.ok()) RaiseLastError();
  }

  Handle temp;
  std::string temp_name;
  DWORD error = CreateTempFile(DirectoryPrefix(path), &temp, &temp_name);
  if (error == ERROR_ACCESS_DENIED && had_old) {
    RewriteInPlace(path, bytes);
    return;
  }
  if (error != 0) RaiseInOutError(static_cast<int>(error));

  error = WriteAll(temp.get(), bytes);
  if (error == 0 && !FlushFileBuffers(temp.get())) error = GetLastError();
  if (error == 0) error = temp.Close();
  DWORD keep = had_old ? attributes & kSettableAttributes : 0;
  if (error == 0 && keep != 0 && !SetFileAttributesA(temp_name.c_str(), keep)) {
    error = GetLastError();
  }
  if (error == 0 && !MoveFileExA(temp_name.c_str(), path.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != 0) {
    if (temp.ok()) temp.Close();
    DeleteFileA(temp_name.c_str());
    RaiseInOutError(static_cast<int>(error));
  }
}

bool IsExistingFile(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
