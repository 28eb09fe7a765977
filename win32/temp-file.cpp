#include "win32/temp-file.h"

#include <mutex>

#include "base/temp-name.h"
#include "win32/held.h"

namespace {

// This run's temporary files, for the console handler, which runs on a thread of its own.
std::mutex g_mutex;
std::wstring g_slots[4];

int TakeSlot(const std::wstring& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (int i = 0; i < 4; ++i) {
    if (g_slots[i].empty()) {
      g_slots[i] = path;
      return i;
    }
  }
  return -1;
}

void FreeSlot(int slot) {
  if (slot < 0) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_slots[slot].clear();
}

BOOL WINAPI RemoveTempFilesOnStop(DWORD) {
  std::lock_guard<std::mutex> lock(g_mutex);
  // The file is open with delete sharing: it goes when the run's handle closes, as the run ends.
  for (const std::wstring& path : g_slots) {
    if (!path.empty()) DeleteFileW(path.c_str());
  }
  return FALSE;  // the run ends as it would have
}

// Removes the temporary files of `leaf` in `folder` that no run holds open: only a file that
// nobody has open can be opened without sharing, and it goes when that handle closes.
void SweepStaleTempFiles(const std::wstring& folder, const std::wstring& leaf) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"." + leaf + L".*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!IsTempNameOf<wchar_t>(found.cFileName, leaf)) continue;
    HANDLE stale = CreateFileW((folder + found.cFileName).c_str(), DELETE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (stale != INVALID_HANDLE_VALUE) CloseHandle(stale);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

TempFile::~TempFile() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  if (!path_.empty()) DeleteFileW(path_.c_str());
  CloseHandle(handle_);
  FreeSlot(slot_);
}

DWORD TempFile::Create(const std::wstring& folder, const std::wstring& leaf) {
  SweepStaleTempFiles(folder, leaf);
  static LONG counter = 0;
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    DWORD seed = GetCurrentProcessId() * 2654435761u ^ static_cast<DWORD>(now.QuadPart) ^
                 static_cast<DWORD>(InterlockedIncrement(&counter)) * 40503u;
    std::wstring path = folder + TempName<wchar_t>(leaf, seed * 0x9E3779B97F4A7C15ull);
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC | WRITE_OWNER,
                    FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      // Without the right to change the new file's security, the file is made all the same.
      if (error == ERROR_ACCESS_DENIED) {
        file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
      }
      if (error != 0) continue;
    }
    handle_ = file;
    path_ = path;
    slot_ = TakeSlot(path);
    return 0;
  }
  return error;
}

DWORD TempFile::Flush() { return FlushFileBuffers(handle_) ? 0 : GetLastError(); }

DWORD TempFile::RenameOver(const std::wstring& target) {
  DWORD error = RetryWhileHeld(target, [&]() -> DWORD {
    return MoveFileExW(path_.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : GetLastError();
  });
  if (error != 0) return error;
  FreeSlot(slot_);
  slot_ = -1;
  path_.clear();
  return 0;
}

void InstallTempFileCleanup() { SetConsoleCtrlHandler(RemoveTempFilesOnStop, TRUE); }
