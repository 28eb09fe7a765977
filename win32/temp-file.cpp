#include "win32/temp-file.h"

#include <cstring>
#include <mutex>
#include <vector>

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
  if (!path_.empty()) {
    // Deleted through its own handle, which may delete it whatever the folder lets this user do
    // by name; by name where the system has no such call.
    FILE_DISPOSITION_INFO dispose = {TRUE};
    if (!SetFileInformationByHandle(handle_, FileDispositionInfo, &dispose, sizeof dispose)) {
      DeleteFileW(path_.c_str());
    }
  }
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
    // The file is renamed and, when a run gives up, deleted through this handle, which needs the
    // right to delete it; the right to change its security and owner is asked for too, and
    // without them the file is made all the same. A folder that lets this user make a file but
    // not delete it ("Write" without "Modify") refuses the first: the file could never take the
    // old name.
    const DWORD rights[] = {DELETE | WRITE_DAC | WRITE_OWNER, DELETE | WRITE_DAC, DELETE};
    HANDLE file = INVALID_HANDLE_VALUE;
    for (DWORD extra : rights) {
      file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | extra, FILE_SHARE_DELETE,
                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      error = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
      if (error != ERROR_ACCESS_DENIED) break;
    }
    if (error != 0) continue;
    handle_ = file;
    path_ = path;
    slot_ = TakeSlot(path);
    return 0;
  }
  return error;
}

DWORD TempFile::Flush() { return FlushFileBuffers(handle_) ? 0 : GetLastError(); }

namespace {

// What SetFileInformationByHandle says for a class of information that the system or the file
// system does not know.
bool Unsupported(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_FUNCTION;
}

// Renames the open file `file` to `target` through its handle, replacing what is there: with
// POSIX semantics where the system has them (Windows 10 1709 and later on NTFS), which replace a
// file that another program holds open with delete sharing (a sync client); else as Windows Vista
// does. ERROR_NOT_SUPPORTED where neither can be had.
DWORD RenameByHandle(HANDLE file, const std::wstring& target) {
  constexpr int kRenameInfoEx = 22;        // FileRenameInfoEx
  constexpr DWORD kReplaceIfExists = 0x1;  // FILE_RENAME_FLAG_REPLACE_IF_EXISTS
  constexpr DWORD kPosixSemantics = 0x2;   // FILE_RENAME_FLAG_POSIX_SEMANTICS
  const std::size_t name_bytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
  FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(info->FileName, target.data(), name_bytes);
  const DWORD size = static_cast<DWORD>(buffer.size());
  // The flags take the place of ReplaceIfExists, at the same offset, in a field of four bytes.
  const DWORD flags = kReplaceIfExists | kPosixSemantics;
  std::memcpy(buffer.data(), &flags, sizeof flags);
  if (SetFileInformationByHandle(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(kRenameInfoEx), info,
                                 size)) {
    return 0;
  }
  DWORD error = GetLastError();
  if (!Unsupported(error)) return error;
  std::memset(buffer.data(), 0, sizeof flags);
  info->ReplaceIfExists = TRUE;
  if (SetFileInformationByHandle(file, FileRenameInfo, info, size)) return 0;
  error = GetLastError();
  return Unsupported(error) ? ERROR_NOT_SUPPORTED : error;
}

}  // namespace

DWORD TempFile::RenameOver(const std::wstring& target) {
  DWORD error = RetryWhileHeld(target, [&]() -> DWORD {
    DWORD renamed = RenameByHandle(handle_, target);
    if (renamed != ERROR_NOT_SUPPORTED) return renamed;
    return MoveFileExW(path_.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : GetLastError();
  });
  if (error != 0) return error;
  // The rename reaches the disk with the file's own metadata.
  FlushFileBuffers(handle_);
  FreeSlot(slot_);
  slot_ = -1;
  path_.clear();
  return 0;
}

void InstallTempFileCleanup() { SetConsoleCtrlHandler(RemoveTempFilesOnStop, TRUE); }
