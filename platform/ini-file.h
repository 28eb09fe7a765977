// File primitives of the INI engine: a file's observed state, whole-file reads, and the two ways
// the engine changes a file (bytes at an offset, or an atomic replacement of the contents).
// ini-file-posix.cpp implements them.
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
  std::int64_t modified_ns = 0;  // last write
  std::int64_t changed_ns = 0;   // last change of data or attributes; 0 where there is none
};

inline bool operator==(const FileStamp& a, const FileStamp& b) {
  return a.kind == b.kind && a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modified_ns == b.modified_ns && a.changed_ns == b.changed_ns;
}
inline bool operator!=(const FileStamp& a, const FileStamp& b) { return !(a == b); }

// The state of `path`, following symbolic links. Only kind is set unless it is kRegular.
FileStamp StatFile(const std::string& path);

// Reads the whole regular file `path` into *content; *stamp is its state during the read.
// False when the file is missing, not a regular file or unreadable, and also, with *changed set,
// when it changed while it was read (the caller may try again).
bool ReadWholeFile(const std::string& path, std::string* content, FileStamp* stamp, bool* changed);

enum class WriteResult {
  kDone,
  kChanged,  // nothing written: the file is not in the state *expected describes
  kFailed,   // the file cannot be written (its contents may be damaged if a write broke off)
};

// Writes `data` at `offset`; with `cut`, the file then ends right behind it. *expected is the
// state the caller's copy describes. If its kind is kMissing the file is created (an empty file
// that is already there counts as missing); otherwise the file must still be in that state.
// On kDone, *expected holds the state after the write.
WriteResult WriteAt(const std::string& path, FileStamp* expected, std::uint64_t offset,
                    std::string_view data, bool cut);

// Replaces the existing file's whole contents by `contents`: writes a temporary file beside it
// and renames that over it, so that the file is always either old or new. Permission bits are
// kept; a symbolic link stays and its target is replaced. The file must be writable and in the
// state *expected; on kDone, *expected holds the new state.
WriteResult ReplaceContents(const std::string& path, FileStamp* expected,
                            std::string_view contents);

}  // namespace inifile
