// The INI file as the INI file service (platform/profile.h) reaches it: a file's observed state,
// whole-file reads, and the ways an item's write changes the file (bytes at its true end, bytes in
// place, or a replacement of the whole file), with ini-file-posix.cpp and ini-file-win32.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace inifile {

enum class FileKind {
  kMissing,  // nothing there, or a directory on the way is missing
  kRegular,  // a regular file (reached through symbolic links)
  kOther,    // a directory, a device, or a name that cannot be examined
};

// One observed state of a file. Equal stamps mean that, as far as the file system's identity,
// size and timestamps tell, the file did not change in between.
struct FileStamp {
  FileKind kind = FileKind::kMissing;
  std::uint64_t device = 0;  // volume
  std::uint64_t inode = 0;   // file number on that volume
  std::uint64_t size = 0;
  // Times in the system's own units: nanoseconds on POSIX, 100 ns ticks on Windows.
  std::int64_t modified = 0;  // last write
  std::int64_t changed = 0;   // last change of data or attributes; 0 where there is none
};

inline bool operator==(const FileStamp& a, const FileStamp& b) {
  return a.kind == b.kind && a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modified == b.modified && a.changed == b.changed;
}
inline bool operator!=(const FileStamp& a, const FileStamp& b) { return !(a == b); }

// The state of `path`, following symbolic links. Only kind is set unless it is kRegular.
FileStamp StatFile(const std::string& path);

// Finishes what a stopped in-place rewrite of the file `path` left (platform/journal.h), where
// this user may; false when a torn file could not be put back.
bool Recover(const std::string& path);

// Reads the whole regular file `path` into *content, holding a shared lock on it, so that a
// write of another run of the tool is never seen half done; *stamp is its state during the read.
// False when the file is missing, not a regular file or unreadable, and also, with *changed set,
// when it changed while it was read (the caller may try again).
bool ReadWholeFile(const std::string& path, std::string* content, FileStamp* stamp, bool* changed);

enum class WriteResult {
  kDone,
  kChanged,  // nothing written: the file is not in the state the caller expected
  kFailed,   // the file cannot be written
};

// The INI file, held for one item's write: open, locked exclusively (other runs of the tool
// wait), and the file that its name leads to. A missing file is created empty. Closing it
// releases the lock.
//
// Writes never put bytes where another program may just have put its own: an append goes to the
// true end of the file, as the file has it at that moment; an edit in place writes only bytes
// that are there already; everything else replaces the whole file (platform/replace.h), and what
// another program appended meanwhile is carried over. After each write, stamp() says whether the
// file is exactly what the writer expects.
class LockedFile {
 public:
  LockedFile() = default;
  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // kFailed when the file cannot be opened for writing or is not a regular file.
  WriteResult Open(const std::string& path);

  // The file's state now.
  FileStamp stamp() const;

  // The `size` bytes of the file at `offset` (from 0: the whole file as stamp() saw it, even when
  // another program has appended since); false when they cannot be read.
  bool Read(std::uint64_t offset, std::uint64_t size, std::string* bytes) const;

  // Appends `bytes` at the file's true end, wherever another program may have put it since the
  // caller looked; *at is the offset where they landed. A write that breaks off (a full disk, a
  // size limit) is undone, and the result is kFailed.
  WriteResult Append(std::string_view bytes, std::uint64_t* at);

  // Writes `bytes` over as many bytes of the file at `offset`.
  WriteResult Overwrite(std::uint64_t offset, std::string_view bytes);

  // Replaces the whole file by `contents`, given the state the caller read it in: kChanged, with
  // nothing written, when it is no longer in that state (grown by another program's appends, it
  // still is). A symbolic link stays and its target is replaced. Afterwards this holds the new
  // file, still locked; or, where the folder refuses new files, the old one rewritten in place
  // under a journal.
  WriteResult Replace(std::string_view contents, const FileStamp& expected);

 private:
  struct Parts;
  Parts* parts_ = nullptr;
};

}  // namespace inifile
