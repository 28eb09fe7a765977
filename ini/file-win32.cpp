// The INI engine's file primitives on Windows. Every name goes to the wide-character functions in
// the \\?\ form, so an INI file may have any name Windows allows.
//
// Runs of the tool take turns at a file through a named mutex of the file's full name, held for
// one item's write: waiting for it holds no handle of the file, which matters because a file that
// any process holds open cannot be replaced by a rename (Windows without delete sharing, Wine
// always). The item's write also holds a LockFileEx lock on the file, which a reading run takes
// shared, so that it never sees a write half done.
#include "ini/file.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "win32/handle.h"
#include "win32/held.h"
#include "win32/path.h"
#include "win32/security.h"
#include "win32/temp-file.h"
#include "win32/turn.h"

namespace inifile {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The byte that the runs lock, far beyond any INI file's end: Windows keeps other programs from
// reading and writing a locked range, and nothing is ever there.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

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
  stamp.modified_ns = written * 100;
  return stamp;
}

FileStamp StampOfHandle(HANDLE file) {
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  if (GetFileType(file) != FILE_TYPE_DISK ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
    FileStamp stamp;
    stamp.kind = FileKind::kOther;
    return stamp;
  }
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

bool LockRuns(HANDLE file, bool exclusive) {
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  return LockFileEx(file, exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0, &at) != 0;
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

// Writes all of `bytes` at `offset`, or at the end of the file when it is negative; false when a
// write fails. *written counts the bytes that went out; *end is where the last one ended.
bool WriteAt(HANDLE file, std::string_view bytes, std::int64_t offset, std::size_t* written,
             std::uint64_t* end) {
  *written = 0;
  while (*written < bytes.size()) {
    OVERLAPPED at = offset < 0 ? At(~std::uint64_t{0}) : At(offset + *written);
    std::size_t left = bytes.size() - *written;
    DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    DWORD done = 0;
    BOOL ok = WriteFile(file, bytes.data() + *written, chunk, &done, &at);
    *written += done;
    if (!ok || done == 0) return false;
  }
  LARGE_INTEGER position = {};
  if (end != nullptr && SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT)) {
    *end = static_cast<std::uint64_t>(position.QuadPart);
  }
  return true;
}

bool SetSize(HANDLE file, std::uint64_t size) {
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) != 0;
}

// Whether the file is still the one read in `expected`, grown at most by appends of another
// program.
bool StillAsRead(const FileStamp& now, const FileStamp& expected) {
  return now.kind == FileKind::kRegular && now.inode == expected.inode &&
         now.size >= expected.size && (now.size > expected.size || now == expected);
}

}  // namespace

FileStamp StatFile(const std::string& path) { return StampOfName(LongPath(path)); }

bool ReadWholeFile(const std::string& path, std::string* content, FileStamp* stamp, bool* changed) {
  *changed = false;
  const std::wstring name = LongPath(path);
  Handle file;
  RetryWhileHeld(name, [&]() -> DWORD {
    file.Reset(CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.ok() ? 0 : GetLastError();
  });
  if (!file.ok() || GetFileType(file.get()) != FILE_TYPE_DISK || !LockRuns(file.get(), false)) {
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
  std::unique_ptr<Turn> turn;  // this run's, while this lives
  Handle file;                 // the file
  TempFile replacement;        // the new file of a Replace, which is the file once renamed
  bool replaced = false;
};

LockedFile::~LockedFile() { delete parts_; }

WriteResult LockedFile::Open(const std::string& path) {
  delete parts_;
  parts_ = new Parts;
  Parts& p = *parts_;
  p.name = LongPath(path);
  p.turn = std::make_unique<Turn>(L"ini", p.name);
  // Another program may replace the file between the open and the lock: the file that the name
  // leads to afterwards is taken instead.
  for (int attempt = 0; attempt < 16; ++attempt) {
    DWORD error = RetryWhileHeld(p.name, [&]() -> DWORD {
      p.file.Reset(CreateFileW(p.name.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL,
                               kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      return p.file.ok() ? 0 : GetLastError();
    });
    if (error != 0 || StampOfHandle(p.file.get()).kind != FileKind::kRegular ||
        !LockRuns(p.file.get(), true)) {
      return WriteResult::kFailed;
    }
    if (StampOfName(p.name) == StampOfHandle(p.file.get())) return WriteResult::kDone;
  }
  return WriteResult::kFailed;
}

FileStamp LockedFile::stamp() const {
  return StampOfHandle(parts_->replaced ? parts_->replacement.handle() : parts_->file.get());
}

bool LockedFile::Read(std::uint64_t size, std::string* bytes) const {
  return ReadAt(parts_->file.get(), 0, size, bytes);
}

WriteResult LockedFile::Append(std::string_view bytes, std::uint64_t expected_end,
                               std::uint64_t* at) {
  HANDLE file = parts_->file.get();
  // Another program that appended since the caller looked is left to a fresh look, rather than
  // written behind (where the bytes might join its section).
  if (stamp().size != expected_end) return WriteResult::kChanged;
  std::size_t written = 0;
  std::uint64_t end = expected_end;
  const bool ok = WriteAt(file, bytes, -1, &written, &end);
  *at = ok ? end - written : expected_end;
  if (ok) return WriteResult::kDone;
  if (written > 0) {
    // Undone: cut off again where nothing came after; blanked, which reading ignores, where
    // another program appended behind the broken-off bytes.
    if (stamp().size == expected_end + written) {
      SetSize(file, expected_end);
    } else {
      std::size_t blanked = 0;
      WriteAt(file, std::string(written, ' '), static_cast<std::int64_t>(expected_end), &blanked,
              nullptr);
    }
  }
  return WriteResult::kFailed;
}

WriteResult LockedFile::Overwrite(std::uint64_t offset, std::string_view bytes) {
  std::size_t written = 0;
  return WriteAt(parts_->file.get(), bytes, static_cast<std::int64_t>(offset), &written, nullptr)
             ? WriteResult::kDone
             : WriteResult::kFailed;
}

WriteResult LockedFile::Replace(std::string_view contents, const FileStamp& expected) {
  Parts& p = *parts_;
  HANDLE old = p.file.get();
  if (!StillAsRead(StampOfHandle(old), expected)) return WriteResult::kChanged;

  // A link that the user set up stays: its target is replaced, in the target's folder.
  std::wstring target(32768, L'\0');
  DWORD length = GetFinalPathNameByHandleW(old, &target[0], static_cast<DWORD>(target.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  target.resize(length > 0 && length < 32768 ? length : 0);
  if (target.empty()) target = p.name;

  TempFile& temp = p.replacement;
  DWORD error = temp.Create(FolderOf(target), LeafOf(target));
  std::size_t written = 0;
  if (error == ERROR_ACCESS_DENIED) {
    // The folder refuses new files: the file is rewritten in place.
    return WriteAt(old, contents, 0, &written, nullptr) && SetSize(old, contents.size())
               ? WriteResult::kDone
               : WriteResult::kFailed;
  }
  if (error != 0 || !WriteAt(temp.handle(), contents, 0, &written, nullptr)) {
    return WriteResult::kFailed;
  }
  KeepSecurityAndAttributes(old, temp.handle());
  if (temp.Flush() != 0) return WriteResult::kFailed;
  // Right before the rename: the file must still be the one read, and its name must still lead
  // to it.
  const FileStamp now = StampOfHandle(old);
  if (!StillAsRead(now, expected) || StampOfName(target) != now) return WriteResult::kChanged;
  if (now.size > expected.size) {
    // What another program appended in the moment before goes on, at the new file's end.
    std::string late;
    if (!ReadAt(old, expected.size, now.size - expected.size, &late) ||
        !WriteAt(temp.handle(), late, -1, &written, nullptr)) {
      return WriteResult::kFailed;
    }
  }
  // No handle of this run may hold the old file while it is replaced; the turn stays this run's.
  p.file.Reset();
  if (temp.RenameOver(target) != 0) return WriteResult::kFailed;
  p.replaced = true;
  return WriteResult::kDone;
}

}  // namespace inifile
