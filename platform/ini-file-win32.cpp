// The INI file's primitives on Windows. Every name goes to the wide-character functions in
// the \\?\ form, so an INI file may have any name Windows allows.
//
// Runs of the tool take turns at a file through a named mutex of the file's full name, taken at a
// run's first write to the file and held to its end: waiting for it holds no handle of the file,
// which matters because a file that any process holds open cannot be replaced by a rename
// (Windows without delete sharing, Wine always). From its first write to its end the run also
// holds a LockFileEx lock on the file, which a reading run takes shared, so that it never sees a
// write half done.
#include "platform/ini-file.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/Errors.h"
#include "platform/journal.h"
#include "platform/replace-win32.h"
#include "platform/replace.h"
#include "platform/turn.h"
#include "win32/file.h"
#include "win32/handle.h"
#include "win32/held.h"
#include "win32/path.h"
#include "win32/security.h"
#include "win32/turn.h"

namespace inifile {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::int64_t Ticks(LARGE_INTEGER t) { return t.QuadPart; }
std::int64_t Ticks(FILETIME t) {
  return static_cast<std::int64_t>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
}

// The stamp of a file: its creation time stands for its identity (a replacement is a new file),
// with its size and last write time, the same whether it is taken by name or through a handle.
FileStamp StampOf(DWORD attributes, std::int64_t created, std::uint64_t size,
                  std::int64_t written) {
  FileStamp stamp;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    stamp.kind = FileKind::kOther;
    return stamp;
  }
  stamp.kind = FileKind::kRegular;
  stamp.inode = static_cast<std::uint64_t>(created);
  stamp.size = size;
  stamp.modified = written;
  return stamp;
}

// The stamp of an open file on disk (its opener checked that it is one). *sole_name, when asked
// for, tells whether the file has one name and is not being deleted: a file that was renamed
// over, or removed, has none left, so that its name then leads to it without a look at the name.
FileStamp StampOfHandle(HANDLE file, bool* sole_name = nullptr) {
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
    FileStamp stamp;
    stamp.kind = FileKind::kOther;
    return stamp;
  }
  if (sole_name != nullptr) *sole_name = standard.NumberOfLinks == 1 && !standard.DeletePending;
  return StampOf(basic.FileAttributes, Ticks(basic.CreationTime),
                 static_cast<std::uint64_t>(standard.EndOfFile.QuadPart),
                 Ticks(basic.LastWriteTime));
}

FileStamp StampOfName(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    FileStamp stamp;
    DWORD error = GetLastError();
    stamp.kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileKind::kMissing
                                                                                : FileKind::kOther;
    return stamp;
  }
  if (path.compare(0, 4, L"\\\\.\\") == 0) {
    FileStamp stamp;
    stamp.kind = FileKind::kOther;
    return stamp;
  }
  return StampOf(data.dwFileAttributes, Ticks(data.ftCreationTime),
                 (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
                 Ticks(data.ftLastWriteTime));
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// Reads `size` bytes at `offset`; false when the file holds fewer or cannot be read.
bool ReadAt(HANDLE file, std::uint64_t offset, std::uint64_t size, std::string* bytes) {
  bytes->resize(static_cast<std::size_t>(size));
  std::size_t done = 0;
  while (done < bytes->size()) {
    OVERLAPPED at = At(offset + done);
    std::size_t left = bytes->size() - done;
    DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(file, &(*bytes)[done], chunk, &got, &at) || got == 0) break;
    done += got;
  }
  bytes->resize(done);
  return done == size;
}

// Writes all of `bytes` at the handle's position (the file's end for a handle that may only
// append), without an OVERLAPPED offset, which costs Wine a call of its server per write; false
// when a write fails. *written counts the bytes that went out; *end is where the last one ended.
bool WriteHere(HANDLE file, std::string_view bytes, std::size_t* written, std::uint64_t* end) {
  *written = 0;
  while (*written < bytes.size()) {
    std::size_t left = bytes.size() - *written;
    DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    DWORD done = 0;
    BOOL ok = WriteFile(file, bytes.data() + *written, chunk, &done, nullptr);
    *written += done;
    if (!ok || done == 0) return false;
  }
  LARGE_INTEGER position = {};
  if (end != nullptr && SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT)) {
    *end = static_cast<std::uint64_t>(position.QuadPart);
  }
  return true;
}

// The same at `offset`.
bool WriteAt(HANDLE file, std::string_view bytes, std::uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  std::size_t written = 0;
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
         WriteHere(file, bytes, &written, nullptr);
}

// The locked handle may only append: bytes in place go through a second handle of the file `name`,
// which must be the file that `locked` describes. An invalid handle when it cannot be had.
HANDLE OpenWriter(const std::wstring& name, const FileStamp& locked) {
  Handle writer(CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!writer.ok() || GetFileType(writer.get()) != FILE_TYPE_DISK ||
      StampOfHandle(writer.get()) != locked) {
    return INVALID_HANDLE_VALUE;
  }
  return writer.Release();
}

// What this run holds of an INI file from its first write to its end: its turn among the runs
// (a mutex that a killed run held is abandoned, and the next run takes it), and the file, open
// and locked, so that a run that reads it never sees a write half done. Waiting for a turn,
// opening and locking the file per item would cost Wine's server a call or more each, which
// makes the most of an item's time there.
struct RunsHold {
  explicit RunsHold(const std::wstring& name) : turn(L"ini", name) {}
  void LetGo() {
    file.Reset();
    locked = false;
    marked = false;
  }
  // The file once marked for backup, at this run's first write to it.
  void MarkWritten() {
    if (marked) return;
    MarkForBackup(file.get());
    marked = true;
  }
  Turn turn;
  Handle file;
  bool locked = false;
  bool marked = false;
};

std::map<std::wstring, std::unique_ptr<RunsHold>>& Holds() {
  static std::map<std::wstring, std::unique_ptr<RunsHold>> holds;
  return holds;
}

RunsHold& HoldOf(const std::wstring& name) {
  std::unique_ptr<RunsHold>& hold = Holds()[name];
  if (hold == nullptr) hold = std::make_unique<RunsHold>(name);
  return *hold;
}

}  // namespace

FileStamp StatFile(const std::string& path) {
  const std::wstring name = LongPath(path);
  // The file that this run holds, while it is still the one its name leads to, is looked at
  // through its handle: a look at the name costs Wine the walk of the whole path.
  auto held = Holds().find(name);
  if (held != Holds().end() && held->second->file.ok()) {
    bool sole_name = false;
    const FileStamp stamp = StampOfHandle(held->second->file.get(), &sole_name);
    if (sole_name && stamp.kind == FileKind::kRegular) return stamp;
  }
  return StampOfName(name);
}

bool ReadWholeFile(const std::string& path, std::string* content, FileStamp* stamp, bool* changed) {
  *changed = false;
  const std::wstring name = LongPath(path);
  // The file that this run holds locked is read through its own handle: nobody else writes it.
  auto held = Holds().find(name);
  if (held != Holds().end() && held->second->locked) {
    HANDLE file = held->second->file.get();
    bool sole_name = false;
    const FileStamp now = StampOfHandle(file, &sole_name);
    if (sole_name && now.kind == FileKind::kRegular) {
      if (!ReadAt(file, 0, now.size, content)) return false;
      *stamp = now;
      return true;
    }
  }
  Handle file;
  RetryWhileHeld(name, [&]() -> DWORD {
    file.Reset(CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.ok() ? 0 : GetLastError();
  });
  if (!file.ok() || GetFileType(file.get()) != FILE_TYPE_DISK || !LockTurn(file.get(), false)) {
    return false;
  }
  const FileStamp before = StampOfHandle(file.get());
  char extra;
  DWORD got = 0;
  OVERLAPPED beyond = At(before.size);
  if (before.kind != FileKind::kRegular || !ReadAt(file.get(), 0, before.size, content) ||
      (ReadFile(file.get(), &extra, 1, &got, &beyond) && got != 0) ||
      StampOfHandle(file.get()) != before) {
    *changed = true;
    return false;
  }
  *stamp = before;
  return true;
}

struct LockedFile::Parts {
  std::wstring name;
  RunsHold* hold = nullptr;  // of this file, whose handle this item's write locked
  std::unique_ptr<Win32Replace>
      replacement;  // of a Replace, whose new file is the file once renamed
  bool replaced = false;
  FileStamp opened;      // the file's state when it was locked
  bool written = false;  // since then
  FileStamp after;       // after this run's append
  bool after_known = false;
  HANDLE file() const { return hold->file.get(); }
};

LockedFile::~LockedFile() { delete parts_; }

namespace {

// The turn at the INI file of this run's hold, which stays open between items: a handle that may
// only append, so that every write goes to the file's true end, wherever another program may have
// put it meanwhile. Another program may replace the file while this run holds it open, or between
// the open and the lock: the file that the name leads to then is taken instead.
class IniTurnFiles : public TurnFiles {
 public:
  IniTurnFiles(const std::wstring& name, RunsHold& hold, FileStamp* opened)
      : name_(name), hold_(hold), opened_(*opened) {}

  int Open() override {
    if (!hold_.file.ok()) {
      DWORD error = RetryWhileHeld(name_, [&]() -> DWORD {
        hold_.file.Reset(CreateFileW(
            name_.c_str(),
            GENERIC_READ | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
            kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return hold_.file.ok() ? 0 : GetLastError();
      });
      if (error != 0) return static_cast<int>(error);
      if (GetFileType(hold_.file.get()) != FILE_TYPE_DISK) {
        hold_.file.Reset();
        return kAccessDenied;
      }
    }
    return 0;
  }
  int Lock(bool exclusive) override {
    if (!hold_.locked) {
      if (!LockTurn(hold_.file.get(), exclusive)) return static_cast<int>(GetLastError());
      hold_.locked = true;
    }
    opened_ = StampOfHandle(hold_.file.get(), &sole_name_);
    return opened_.kind == FileKind::kRegular ? 0 : kAccessDenied;
  }
  // Locked, and the name leads to the file as it is: that is its state now.
  bool NameLeadsToOpen() override { return sole_name_ || StampOfName(name_) == opened_; }
  void Close() override { hold_.LetGo(); }

 private:
  const std::wstring& name_;
  RunsHold& hold_;
  FileStamp& opened_;
  bool sole_name_ = false;
};

}  // namespace

WriteResult LockedFile::Open(const std::string& path) {
  delete parts_;
  parts_ = new Parts;
  Parts& p = *parts_;
  p.name = LongPath(path);
  RunsHold& hold = HoldOf(p.name);
  IniTurnFiles turns(p.name, hold, &p.opened);
  if (TakeTurn(turns, true) != 0) return WriteResult::kFailed;
  p.hold = &hold;
  return WriteResult::kDone;
}

FileStamp LockedFile::stamp() const {
  const Parts& p = *parts_;
  if (!p.written) return p.opened;
  if (p.after_known) return p.after;
  return StampOfHandle(p.replaced ? p.replacement->NewFile() : p.file());
}

bool LockedFile::Read(std::uint64_t offset, std::uint64_t size, std::string* bytes) const {
  return ReadAt(parts_->file(), offset, size, bytes);
}

WriteResult LockedFile::Append(std::string_view bytes, std::uint64_t* at) {
  Parts& p = *parts_;
  HANDLE file = p.file();
  p.written = true;
  std::size_t written = 0;
  const bool ok = WriteHere(file, bytes, &written, nullptr);
  if (ok) {
    p.hold->MarkWritten();
    // The file after the write tells where it landed: at the end the file had when it was
    // locked, unless another program appended meanwhile; only then is the position asked for.
    p.after = StampOfHandle(file);
    p.after_known = true;
    if (p.after.size == p.opened.size + written) {
      *at = p.opened.size;
      return WriteResult::kDone;
    }
    LARGE_INTEGER position = {};
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT)) {
      return WriteResult::kFailed;
    }
    *at = static_cast<std::uint64_t>(position.QuadPart) - written;
    return WriteResult::kDone;
  }
  LARGE_INTEGER position = {};
  if (written > 0 && SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT)) {
    // Undone: cut off again where nothing came after; blanked, which reading ignores, where
    // another program appended behind the broken-off bytes.
    const std::uint64_t start = static_cast<std::uint64_t>(position.QuadPart) - written;
    Handle writer(OpenWriter(parts_->name, stamp()));
    if (stamp().size == start + written) {
      SetSize(writer.get(), start);
    } else {
      WriteAt(writer.get(), std::string(written, ' '), start);
    }
  }
  return WriteResult::kFailed;
}

WriteResult LockedFile::Overwrite(std::uint64_t offset, std::string_view bytes) {
  Handle writer(OpenWriter(parts_->name, stamp()));
  parts_->written = true;
  if (!writer.ok() || !WriteAt(writer.get(), bytes, offset)) return WriteResult::kFailed;
  parts_->hold->MarkWritten();
  return WriteResult::kDone;
}

WriteResult LockedFile::Replace(std::string_view contents, const FileStamp& expected) {
  Parts& p = *parts_;
  HANDLE old = p.file();
  // A link that the user set up stays: its target is replaced, in the target's folder.
  std::wstring target(32768, L'\0');
  DWORD length = GetFinalPathNameByHandleW(old, &target[0], static_cast<DWORD>(target.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  target.resize(length > 0 && length < 32768 ? length : 0);
  if (target.empty()) target = p.name;

  Win32OldFile read;
  read.exists = true;
  read.file = old;
  read.keeps_appends = true;
  read.size = expected.size;
  read.written = expected.modified;
  if (StampOfHandle(old).inode != expected.inode || !Identify(old, &read.volume, &read.index)) {
    return WriteResult::kChanged;
  }
  // The file itself, for an in-place rewrite: never another file that took its name.
  OpenOldFile opens = OpensOf(target, read.volume, read.index);
  p.replacement = std::make_unique<Win32Replace>(target, read, opens);
  p.replacement->ReleaseOldBeforeRename([&p] { p.hold->LetGo(); });
  p.written = true;
  const int code = ReplaceWhole(*p.replacement, contents);
  if (code == kFileChanged) return WriteResult::kChanged;
  if (code != 0) return WriteResult::kFailed;
  p.replaced = p.replacement->NewFile() != INVALID_HANDLE_VALUE;
  return WriteResult::kDone;
}

bool Recover(const std::string& path) {
  const std::wstring name = LongPath(path);
  Handle file(CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  DWORD volume = 0;
  std::uint64_t index = 0;
  DWORD attributes = 0;
  if (!file.ok() || !Identify(file.get(), &volume, &index, &attributes) ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return true;
  }
  std::wstring target(32768, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file.get(), &target[0],
                                           static_cast<DWORD>(target.size()), VOLUME_NAME_DOS);
  target.resize(length > 0 && length < 32768 ? length : 0);
  if (target.empty()) target = name;
  Win32JournalFiles files(OpensOf(target, volume, index));
  return RecoverFromJournal(
             files, JournaledFile{Narrow(target), Narrow(LeafOf(target)), volume, index}) == 0;
}

}  // namespace inifile
