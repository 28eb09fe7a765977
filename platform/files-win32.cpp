// The data file through the Win32 file API. Names go to the wide-character functions in their
// long form (\\?\C:\...), so every name Windows accepts works. Windows error codes are the tool's
// own input/output codes, so every failure raises GetLastError's code as it is. Another program's
// handle (a scanner, a backup tool) is waited for on every open, read, write and rename
// (win32/held.h).
#include "platform/files.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/Errors.h"
#include "platform/journal.h"
#include "win32/handle.h"
#include "win32/held.h"
#include "win32/path.h"
#include "win32/security.h"
#include "win32/temp-file.h"
#include "win32/turn.h"

struct DataFilePin::State {
  std::wstring path;  // the file's full name in the \\?\ form, after links
  bool exists = false;
  DWORD volume = 0;  // its identity: volume serial number and file index
  std::uint64_t index = 0;
  std::unique_ptr<Turn> exclusive;  // an import's turn among the runs
  Handle locked;                    // the file, locked while this run's turn lasts
};

namespace {

using State = DataFilePin::State;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The byte that runs lock to take turns, far beyond the file's end, where Windows keeps nobody
// from reading or writing data.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFD;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

[[noreturn]] void RaiseLastError() { RaiseInOutError(static_cast<int>(GetLastError())); }

DWORD SetSize(HANDLE file, std::uint64_t size) {
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) ? 0 : GetLastError();
}

// Opens `path` with `rights`, waiting for other programs' handles; an invalid handle with the
// error set when it cannot.
HANDLE OpenWaiting(const std::wstring& path, DWORD rights, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = RetryWhileHeld(path, [&]() -> DWORD {
    file = CreateFileW(path.c_str(), rights, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    return file != INVALID_HANDLE_VALUE ? 0 : GetLastError();
  });
  SetLastError(error);
  return file;
}

bool Identify(HANDLE file, DWORD* volume, std::uint64_t* index, DWORD* attributes = nullptr) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  *volume = info.dwVolumeSerialNumber;
  *index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  return true;
}

bool SameFile(HANDLE file, const State& s) {
  DWORD volume = 0;
  std::uint64_t index = 0;
  return Identify(file, &volume, &index) && volume == s.volume && index == s.index;
}

// Whether the name still leads to the pinned file.
bool NameLeadsToPin(const State& s) {
  Handle named(CreateFileW(s.path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return named.ok() && SameFile(named.get(), s);
}

// Opens the pinned file itself: a file put in its place meanwhile is refused.
HANDLE OpenPinned(const State& s, DWORD rights) {
  if (!s.exists) RaiseInOutError(kFileNotFound);
  Handle file(OpenWaiting(s.path, rights));
  if (!file.ok()) RaiseLastError();
  // Only a file on disk is a data file: a pipe or a device is refused before anything is read.
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !SameFile(file.get(), s)) {
    RaiseInOutError(kAccessDenied);
  }
  return file.Release();
}

// Reads into `buffer` at the file's position, waiting while another program's lock covers it.
DWORD ReadSome(HANDLE file, char* buffer, DWORD size, DWORD* got) {
  return RetryWhileHeld(std::wstring(), [&]() -> DWORD {
    return ReadFile(file, buffer, size, got, nullptr) ? 0 : GetLastError();
  });
}

bool ReadAll(HANDLE file, std::string* bytes) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) ||
      !SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
    return false;
  }
  bytes->resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes->size()) {
    DWORD got = 0;
    std::size_t left = bytes->size() - done;
    DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    if (ReadSome(file, &(*bytes)[done], chunk, &got) != 0) return false;
    if (got == 0) break;
    done += got;
  }
  bytes->resize(done);
  return true;
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

bool LockTurn(HANDLE file, PinTurn turn) {
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  return LockFileEx(file, turn == PinTurn::kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0,
                    &at) != 0;
}

// ---- The journal's primitives: journals in %LOCALAPPDATA%\Keepxfer, else %TEMP%\Keepxfer ----

std::wstring JournalFolder(int place) {
  std::wstring folder;
  if (place == 0) {
    wchar_t local[32768];
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, 32768);
    if (length == 0 || length >= 32768) return L"";
    folder.assign(local, length);
  } else {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return L"";
    folder.assign(temp, length);
  }
  folder = LongPath(folder);
  if (folder.back() != L'\\') folder += L'\\';
  return folder + L"Keepxfer\\";
}

// The pinned data file and the journal folders, for the journal's policy.
class Win32JournalFiles : public JournalFiles {
 public:
  // `open` is the data file when the caller holds it open already.
  Win32JournalFiles(const State& s, HANDLE open = INVALID_HANDLE_VALUE) : s_(s), open_(open) {}

  std::string ReadData() override {
    std::string bytes;
    if (!ReadAll(Data(GENERIC_READ), &bytes)) RaiseLastError();
    return bytes;
  }

  int OverwriteData(const std::string& bytes) override {
    HANDLE file = Data(GENERIC_READ | GENERIC_WRITE);
    // Written again from the start while another program's lock is in the way.
    return static_cast<int>(RetryWhileHeld(s_.path, [&] { return Overwrite(file, bytes); }));
  }

  int JournalPlaces() const override { return 2; }

  bool ReadJournal(int place, const std::string& name, std::string* text) override {
    std::wstring folder = JournalFolder(place);
    if (folder.empty()) return false;
    Handle journal(CreateFileW((folder + Widen(name)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return journal.ok() && ReadAll(journal.get(), text);
  }

  // A journal that cannot be written fails as "I/O error <code>", never as one of the data
  // file's own messages ("File access denied"), which would point at the wrong file.
  int WriteJournal(int place, const std::string& name, const std::string& text) override {
    std::wstring folder = JournalFolder(place);
    if (folder.empty()) return PlainIoError(ERROR_PATH_NOT_FOUND);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return PlainIoError(static_cast<int>(GetLastError()));
    }
    const std::wstring wide_name = Widen(name);
    TempFile temp;
    DWORD error = temp.Create(folder, wide_name);
    if (error == 0) error = WriteAll(temp.handle(), text);
    if (error == 0) error = temp.Flush();
    if (error == 0) error = temp.RenameOver(folder + wide_name);
    return error == 0 ? 0 : PlainIoError(static_cast<int>(error));
  }

  void RemoveJournal(int place, const std::string& name) override {
    std::wstring folder = JournalFolder(place);
    if (!folder.empty()) DeleteFileW((folder + Widen(name)).c_str());
  }

 private:
  // The data file, opened here when the caller did not.
  HANDLE Data(DWORD rights) {
    if (open_ != INVALID_HANDLE_VALUE) return open_;
    own_.Reset(OpenPinned(s_, rights));
    return own_.get();
  }

  const State& s_;
  HANDLE open_;
  Handle own_;
};

JournaledFile JournaledFileOf(const State& s) {
  return JournaledFile{Narrow(s.path), Narrow(LeafOf(s.path)), s.volume, s.index};
}

// Pins the file that `path` leads to now: its final name (links followed) and identity. False
// when there is none.
bool PinNamed(State& s, const std::wstring& path, DWORD* attributes) {
  Handle file(OpenWaiting(path, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS));
  if (!file.ok()) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) RaiseInOutError(static_cast<int>(error));
    s.exists = false;
    return false;
  }
  if (!Identify(file.get(), &s.volume, &s.index, attributes)) RaiseLastError();
  s.exists = true;
  // A link that the user set up (also one that Wine shows as a plain file) leads to the file to
  // use.
  std::wstring final_name(32768, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file.get(), &final_name[0],
                                           static_cast<DWORD>(final_name.size()), VOLUME_NAME_DOS);
  if (length != 0 && length < final_name.size()) s.path.assign(final_name.data(), length);
  return true;
}

// Waits for this run's turn at the pinned file and holds it. The file may be replaced while this
// run waits (by the run whose turn it was): then the file that the name leads to now is pinned
// and waited for instead.
void TakeTurn(State& s, const std::wstring& name, PinTurn turn) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    s.locked.Reset(OpenPinned(s, GENERIC_READ));
    if (!LockTurn(s.locked.get(), turn)) RaiseLastError();
    if (NameLeadsToPin(s)) return;
    DWORD attributes = 0;
    s.locked.Reset();
    s.path = name;
    if (!PinNamed(s, name, &attributes)) return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) RaiseInOutError(kAccessDenied);
  }
  RaiseInOutError(kAccessDenied);
}

}  // namespace

DataFilePin::DataFilePin(const std::string& name, PinTurn turn)
    : name_(name), state_(std::make_unique<State>()) {
  State& s = *state_;
  const std::wstring path = LongPath(name);
  s.path = path;
  // An import's turn is waited for without holding the file, which a replacement needs free.
  if (turn == PinTurn::kExclusive) s.exclusive = std::make_unique<Turn>(L"data", path);
  DWORD attributes = 0;
  if (!PinNamed(s, path, &attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return;
  TakeTurn(s, path, turn);
  if (!s.exists) return;
  Win32JournalFiles files(s);
  RecoverFromJournal(files, JournaledFileOf(s));
}

DataFilePin::~DataFilePin() = default;

void DataFilePin::EndTurn() {
  state_->locked.Reset();
  state_->exclusive.reset();
}

DataFile::DataFile(const DataFilePin& pin, FileAccess access) {
  const State& s = pin.state();
  DWORD rights = access == FileAccess::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  Handle file(OpenPinned(s, rights));
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
    if (DWORD error = ReadSome(file, out + done, chunk, &got)) {
      RaiseInOutError(static_cast<int>(error));
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

void ReplaceDataFile(const DataFilePin& pin, const std::string& bytes) {
  State& s = pin.state();
  Handle old;
  if (s.exists) {
    DWORD attributes = GetFileAttributesW(s.path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
      RaiseInOutError(kAccessDenied);
    }
    // The old file must be the pinned one, and one this user may write, as for an in-place
    // rewrite.
    old.Reset(OpenPinned(s, GENERIC_READ | GENERIC_WRITE | READ_CONTROL));
  }

  TempFile temp;
  DWORD error = temp.Create(FolderOf(s.path), LeafOf(s.path));
  if (error == ERROR_ACCESS_DENIED && s.exists) {
    // The folder refuses new files: the file is rewritten in place, under a journal.
    Win32JournalFiles files(s, old.get());
    RewriteUnderJournal(files, JournaledFileOf(s), bytes);
    pin.state().locked.Reset();
    pin.state().exclusive.reset();
    return;
  }
  if (error != 0) RaiseInOutError(static_cast<int>(error));
  error = WriteAll(temp.handle(), bytes);
  if (error == 0 && old.ok()) KeepSecurityAndAttributes(old.get(), temp.handle());
  if (error == 0) error = temp.Flush();
  if (error != 0) RaiseInOutError(static_cast<int>(error));
  // The name must still lead to the file that was checked, or still be free.
  if (s.exists ? !NameLeadsToPin(s)
               : GetFileAttributesW(s.path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    RaiseInOutError(kAccessDenied);
  }
  DWORD volume = 0;
  std::uint64_t index = 0;
  if (!Identify(temp.handle(), &volume, &index)) RaiseLastError();
  // No handle of this run may hold the old file while it is replaced; the import's turn stays.
  old.Reset();
  s.locked.Reset();
  error = temp.RenameOver(s.path);
  if (error != 0) RaiseInOutError(static_cast<int>(error));
  s.exclusive.reset();
  s.exists = true;
  s.volume = volume;
  s.index = index;
}

bool IsPinnedFile(const std::string& path, const DataFilePin& pin) {
  const State& s = pin.state();
  if (!s.exists) return false;
  Handle file(CreateFileW(LongPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.ok() && SameFile(file.get(), s);
}

bool IsExistingFile(const std::string& path) {
  DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
