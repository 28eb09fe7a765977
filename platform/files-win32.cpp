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
#include "platform/replace-win32.h"
#include "platform/replace.h"
#include "platform/turn.h"
#include "win32/file.h"
#include "win32/handle.h"
#include "win32/path.h"
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

[[noreturn]] void RaiseLastError() { RaiseInOutError(static_cast<int>(GetLastError())); }

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

// Opens the pinned file itself: a file put in its place meanwhile is refused. 0, or the code.
int TryOpenPinned(const State& s, DWORD rights, HANDLE* opened) {
  if (!s.exists) return kFileNotFound;
  Handle file(OpenWaiting(s.path, rights));
  if (!file.ok()) return static_cast<int>(GetLastError());
  // Only a file on disk is a data file: a pipe or a device is refused before anything is read.
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !SameFile(file.get(), s)) return kAccessDenied;
  *opened = file.Release();
  return 0;
}

HANDLE OpenPinned(const State& s, DWORD rights) {
  HANDLE file = INVALID_HANDLE_VALUE;
  if (int code = TryOpenPinned(s, rights, &file)) RaiseInOutError(code);
  return file;
}

// The pinned file's opens for its journal.
OpenOldFile OpensOf(const State& s) {
  return [&s](DWORD rights, HANDLE* file) { return TryOpenPinned(s, rights, file); };
}

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

// The turn at the pinned file. The file may be replaced while this run waits (by the run whose
// turn it was): then the file that the name leads to now is pinned and waited for instead.
class PinTurnFiles : public TurnFiles {
 public:
  PinTurnFiles(State& s, const std::wstring& name) : s_(s), name_(name) {}

  int Open() override {
    if (!s_.exists) return kFileNotFound;
    HANDLE file = INVALID_HANDLE_VALUE;
    int code = TryOpenPinned(s_, GENERIC_READ, &file);
    s_.locked.Reset(file);
    return code;
  }
  int Lock(bool exclusive) override {
    return LockTurn(s_.locked.get(), exclusive) ? 0 : static_cast<int>(GetLastError());
  }
  bool NameLeadsToOpen() override {
    if (NameLeadsToPin(s_)) return true;
    DWORD attributes = 0;
    s_.locked.Reset();
    s_.path = name_;
    if (PinNamed(s_, name_, &attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      s_.exists = false;
      directory_ = true;
    }
    return false;
  }
  void Close() override { s_.locked.Reset(); }

  bool directory() const { return directory_; }

 private:
  State& s_;
  const std::wstring& name_;
  bool directory_ = false;  // the name leads to a folder now
};

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
  PinTurnFiles turns(s, path);
  const int code = TakeTurn(turns, turn == PinTurn::kExclusive);
  if (turns.directory()) RaiseInOutError(kAccessDenied);
  // A file that went while this run waited is pinned as missing.
  if (code == kFileNotFound && !s.exists) return;
  if (code != 0) RaiseInOutError(code);
  Win32JournalFiles files(OpensOf(s));
  if (int recovered = RecoverFromJournal(files, JournaledFileOf(s))) RaiseInOutError(recovered);
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
  Win32OldFile old;
  old.exists = s.exists;
  old.volume = s.volume;
  old.index = s.index;
  Handle old_file;
  if (s.exists) {
    DWORD attributes = GetFileAttributesW(s.path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
      RaiseInOutError(kAccessDenied);
    }
    // The old file must be the pinned one, and one this user may write, as for an in-place
    // rewrite.
    old_file.Reset(OpenPinned(s, GENERIC_READ | GENERIC_WRITE | READ_CONTROL));
    old.file = old_file.get();
  }
  Win32Replace files(s.path, old, OpensOf(s));
  files.ReleaseOldBeforeRename([&] {
    old_file.Reset();
    s.locked.Reset();
  });
  const int code = ReplaceWhole(files, bytes);
  s.locked.Reset();
  s.exclusive.reset();
  if (code == kFileChanged) RaiseInOutError(kAccessDenied);
  if (code != 0) RaiseInOutError(code);
  if (files.NewFile() != INVALID_HANDLE_VALUE) {
    s.exists = true;
    s.volume = files.NewVolume();
    s.index = files.NewIndex();
  }
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

std::string DataFileInUse(const std::string& dataFileName) {
  wchar_t local[32768];
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, 32768);
  if (length == 0 || length >= 32768) return dataFileName;
  const std::string copy = VirtualStoreName(Narrow(std::wstring(local, length)), dataFileName);
  return !copy.empty() && IsExistingFile(copy) ? copy : dataFileName;
}

bool PinnedFileExists(const DataFilePin& pin) { return pin.state().exists; }

bool FileStartsWith(const std::string& path, std::string_view start) {
  Handle file(OpenWaiting(LongPath(path), GENERIC_READ));
  if (!file.ok() || GetFileType(file.get()) != FILE_TYPE_DISK) return false;
  std::string bytes(start.size(), '\0');
  DWORD got = 0;
  return ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) &&
         got == bytes.size() && bytes == start;
}
