#include "platform/replace-win32.h"

#include "base/Errors.h"
#include "win32/file.h"
#include "win32/handle.h"
#include "win32/held.h"
#include "win32/path.h"
#include "win32/security.h"
#include "win32/state-folder.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int CodeOf(DWORD error) { return static_cast<int>(error); }

StatePlace PlaceOf(int place) {
  return place == 0 ? StatePlace::kStateFolder : StatePlace::kTemporaryFolder;
}

// Puts `bytes` in place of the open file's contents; the new size is reserved first, so that a
// full disk fails before the old contents are touched. 0, or the error.
DWORD Overwrite(HANDLE file, const std::string& bytes) {
  LARGE_INTEGER old_size;
  if (!GetFileSizeEx(file, &old_size)) return GetLastError();
  DWORD error = 0;
  if (bytes.size() > static_cast<std::uint64_t>(old_size.QuadPart)) {
    error = SetSize(file, bytes.size());
  }
  if (error == 0 && !SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
    error = GetLastError();
  }
  if (error == 0) error = WriteAll(file, bytes);
  if (error == 0) error = SetSize(file, bytes.size());
  if (error == 0 && !FlushFileBuffers(file)) error = GetLastError();
  return error;
}

// The size and last write time of an open file.
bool SizeAndTime(HANDLE file, std::uint64_t* size, std::int64_t* written) {
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
    return false;
  }
  *size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
  *written = basic.LastWriteTime.QuadPart;
  return true;
}

}  // namespace

OpenOldFile OpensOf(const std::wstring& path, DWORD volume, std::uint64_t index) {
  return [path, volume, index](DWORD rights, HANDLE* file) {
    Handle opened(OpenWaiting(path, rights));
    if (!opened.ok()) return static_cast<int>(GetLastError());
    DWORD now_volume = 0;
    std::uint64_t now_index = 0;
    if (!Identify(opened.get(), &now_volume, &now_index) || now_volume != volume ||
        now_index != index) {
      return static_cast<int>(kAccessDenied);
    }
    *file = opened.Release();
    return 0;
  };
}

// ---- The journal's primitives ----

int Win32JournalFiles::ReadData(std::string* bytes) {
  HANDLE raw = INVALID_HANDLE_VALUE;
  if (int code = open_(GENERIC_READ, &raw)) return code;
  Handle file(raw);
  return ReadAll(file.get(), bytes) ? 0 : CodeOf(GetLastError());
}

int Win32JournalFiles::OverwriteData(const std::string& bytes) {
  HANDLE raw = INVALID_HANDLE_VALUE;
  if (int code = open_(GENERIC_READ | GENERIC_WRITE, &raw)) return code;
  Handle file(raw);
  // Written again from the start while another program's lock is in the way.
  const DWORD error = RetryWhileHeld(std::wstring(), [&] { return Overwrite(file.get(), bytes); });
  if (error == 0) MarkForBackup(file.get());
  return CodeOf(error);
}

bool Win32JournalFiles::ReadJournal(int place, const std::string& name, std::string* text) {
  std::wstring folder = StateFolder(PlaceOf(place), L"", false);
  if (folder.empty()) return false;
  Handle journal(CreateFileW((folder + Widen(name)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return journal.ok() && ReadAll(journal.get(), text);
}

// A journal that cannot be written fails as "I/O error <code>", never as one of the file's own
// messages ("File access denied"), which would point at the wrong file.
int Win32JournalFiles::WriteJournal(int place, const std::string& name, const std::string& text) {
  unsigned long made = 0;
  std::wstring folder = StateFolder(PlaceOf(place), L"", true, &made);
  if (folder.empty() || made != 0) {
    return PlainIoError(static_cast<int>(made != 0 ? made : ERROR_PATH_NOT_FOUND));
  }
  const std::wstring wide_name = Widen(name);
  TempFile temp;
  DWORD error = temp.Create(folder, wide_name);
  if (error == 0) error = WriteAll(temp.handle(), text);
  if (error == 0) error = temp.Flush();
  if (error == 0) error = temp.RenameOver(folder + wide_name);
  return error == 0 ? 0 : PlainIoError(static_cast<int>(error));
}

void Win32JournalFiles::RemoveJournal(int place, const std::string& name) {
  std::wstring folder = StateFolder(PlaceOf(place), L"", false);
  if (!folder.empty()) DeleteFileW((folder + Widen(name)).c_str());
}

// ---- A replacement ----

Win32Replace::Win32Replace(std::wstring path, const Win32OldFile& old, OpenOldFile open)
    : path_(std::move(path)), old_(old), journal_(std::move(open)) {}

int Win32Replace::MakeTemporary() {
  DWORD error = temp_.Create(FolderOf(path_), LeafOf(path_));
  if (error == ERROR_ACCESS_DENIED && old_.exists) return kFolderRefuses;
  return CodeOf(error);
}

int Win32Replace::WriteTemporary(std::string_view bytes) {
  return CodeOf(WriteAll(temp_.handle(), bytes));
}

int Win32Replace::GiveAttributes() {
  if (old_.exists && old_.file != INVALID_HANDLE_VALUE) {
    KeepSecurityAndAttributes(old_.file, temp_.handle());
  } else {
    MarkForBackup(temp_.handle());
  }
  return 0;
}

int Win32Replace::FlushTemporary() { return CodeOf(temp_.Flush()); }

FileNow Win32Replace::Compare() {
  Handle named(CreateFileW(path_.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!named.ok()) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND && !old_.exists ? FileNow::kAsRead : FileNow::kOther;
  }
  DWORD volume = 0;
  std::uint64_t index = 0;
  if (!old_.exists || !Identify(named.get(), &volume, &index) || volume != old_.volume ||
      index != old_.index) {
    return FileNow::kOther;
  }
  if (!old_.keeps_appends) return FileNow::kAsRead;
  std::uint64_t size = 0;
  std::int64_t written = 0;
  if (!SizeAndTime(named.get(), &size, &written) || size < old_.size) return FileNow::kOther;
  if (size > old_.size) return FileNow::kAppended;
  return written == old_.written ? FileNow::kAsRead : FileNow::kOther;
}

bool Win32Replace::ReadOldFrom(std::uint64_t offset, std::string* bytes) {
  if (old_.file == INVALID_HANDLE_VALUE) return false;
  std::string whole;
  if (!ReadAll(old_.file, &whole)) return false;
  *bytes = offset < whole.size() ? whole.substr(static_cast<std::size_t>(offset)) : std::string();
  return true;
}

int Win32Replace::RenameOver() {
  // No handle of this run may hold the old file while it is replaced (Wine refuses it whatever
  // the sharing); the run's turn stays.
  if (release_) release_();
  old_.file = INVALID_HANDLE_VALUE;
  // The new file's identity as it is before it takes the name (Wine tells another after it).
  if (!Identify(temp_.handle(), &new_volume_, &new_index_)) return CodeOf(GetLastError());
  const DWORD error = temp_.RenameOver(path_);
  // Denied to this user (no right to delete the old file or in the folder), not by another
  // program's handle.
  if (error == ERROR_ACCESS_DENIED && old_.exists && !MayBeHeldByAnother(error, path_)) {
    return kFolderRefuses;
  }
  return CodeOf(error);
}

int Win32Replace::AppendToNew(std::string_view bytes) {
  if (!SetFilePointerEx(temp_.handle(), LARGE_INTEGER{}, nullptr, FILE_END)) {
    return CodeOf(GetLastError());
  }
  return CodeOf(WriteAll(temp_.handle(), bytes));
}

JournaledFile Win32Replace::Journaled() const {
  return JournaledFile{Narrow(path_), Narrow(LeafOf(path_)), old_.volume, old_.index};
}
