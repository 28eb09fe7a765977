// The folders of copies on Windows: %LOCALAPPDATA%\Keepxfer\Backups, else %TEMP%\Keepxfer\Backups
// (win32/state-folder.h); and -Bak's copy. Windows error codes are the tool's own input/output
// codes; a copy's failure shows its code as a plain number.
#include "platform/backups.h"

#include <windows.h>

#include <cstdio>

#include "base/Errors.h"
#include "platform/replace-win32.h"
#include "win32/file.h"
#include "win32/handle.h"
#include "win32/path.h"
#include "win32/state-folder.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int NoOldFile(DWORD, HANDLE*) { return kFileNotFound; }

class Win32BackupFiles : public BackupFiles {
 public:
  int Places() const override { return 2; }
  int OpenFolder(int place) override {
    unsigned long made = 0;
    folder_ = StateFolder(place == 0 ? StatePlace::kStateFolder : StatePlace::kTemporaryFolder,
                          L"Backups", true, &made);
    if (folder_.empty() || made != 0) {
      return PlainIoError(static_cast<int>(made != 0 ? made : ERROR_PATH_NOT_FOUND));
    }
    return 0;
  }
  std::vector<std::string> List() override {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder_ + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        names.push_back(Narrow(found.cFileName));
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
  }
  int WriteNew(const std::string& name, std::string_view bytes) override {
    const std::wstring path = folder_ + Widen(name);
    // A name that is taken is passed over; a folder that cannot be looked into (a file in its
    // place) fails here with its own error, where the replacement would see only another file.
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return kFileChanged;
    if (GetLastError() != ERROR_FILE_NOT_FOUND) {
      return PlainIoError(static_cast<int>(GetLastError()));
    }
    Win32Replace files(path, Win32OldFile(), NoOldFile);
    const int code = ReplaceWhole(files, bytes);
    return code > 0 ? PlainIoError(code) : code;
  }
  void Remove(const std::string& name) override { DeleteFileW((folder_ + Widen(name)).c_str()); }

 private:
  std::wstring folder_;
};

}  // namespace

std::unique_ptr<BackupFiles> UsersBackupFiles() { return std::make_unique<Win32BackupFiles>(); }

std::string LocalTimeStamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char text[32];
  std::snprintf(text, sizeof text, "%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  return text;
}

namespace {

// The final name of an open file (links followed), or `fallback`.
std::wstring FinalName(HANDLE file, const std::wstring& fallback) {
  std::wstring name(32768, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file, &name[0], static_cast<DWORD>(name.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= name.size()) return fallback;
  name.resize(length);
  return name;
}

bool Identity(const std::wstring& path, DWORD* volume, std::uint64_t* index) {
  Handle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.ok() && Identify(file.get(), volume, index);
}

}  // namespace

int SaveCopyAs(const std::string& name, std::string_view bytes) {
  std::wstring target = LongPath(name);
  Win32OldFile old;
  Handle old_file(OpenWaiting(target, GENERIC_READ | READ_CONTROL, FILE_FLAG_BACKUP_SEMANTICS));
  if (old_file.ok()) {
    DWORD attributes = 0;
    if (!Identify(old_file.get(), &old.volume, &old.index, &attributes)) {
      return static_cast<int>(GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        GetFileType(old_file.get()) != FILE_TYPE_DISK) {
      return kAccessDenied;
    }
    old.exists = true;
    old.file = old_file.get();
    // A link that the user set up stays: its target is replaced, in the target's folder.
    target = FinalName(old_file.get(), target);
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    return static_cast<int>(GetLastError());
  }
  Win32Replace files(target, old, OpensOf(target, old.volume, old.index));
  files.ReleaseOldBeforeRename([&old_file] { old_file.Reset(); });
  const int code = ReplaceWhole(files, bytes);
  return code == kFileChanged ? kAccessDenied : code;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  std::wstring long_a = LongPath(a);
  std::wstring long_b = LongPath(b);
  DWORD volume_a = 0, volume_b = 0;
  std::uint64_t index_a = 0, index_b = 0;
  if (Identity(long_a, &volume_a, &index_a) && Identity(long_b, &volume_b, &index_b)) {
    return volume_a == volume_b && index_a == index_b;
  }
  // Names of files that are not there are one file's when they differ only in letter case.
  CharUpperBuffW(&long_a[0], static_cast<DWORD>(long_a.size()));
  CharUpperBuffW(&long_b[0], static_cast<DWORD>(long_b.size()));
  return long_a == long_b;
}
