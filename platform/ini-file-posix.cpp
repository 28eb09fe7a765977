// The INI engine's file primitives on POSIX systems.
#include "platform/ini-file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "posix/fd.h"
#include "posix/path.h"
#include "posix/temp-file.h"

namespace inifile {

namespace {

std::int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileStamp ToStamp(const struct stat& st) {
  FileStamp stamp;
  if (!S_ISREG(st.st_mode)) {
    stamp.kind = FileKind::kOther;
    return stamp;
  }
  stamp.kind = FileKind::kRegular;
  stamp.device = static_cast<std::uint64_t>(st.st_dev);
  stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modified_ns = Nanoseconds(st.st_mtim);
  stamp.changed_ns = Nanoseconds(st.st_ctim);
  return stamp;
}

FileStamp StampOf(int fd) {
  struct stat st;
  if (Io().Stat(fd, &st) != 0) {
    FileStamp stamp;
    stamp.kind = FileKind::kOther;
    return stamp;
  }
  return ToStamp(st);
}

}  // namespace

FileStamp StatFile(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    FileStamp stamp;
    stamp.kind = (errno == ENOENT || errno == ENOTDIR) ? FileKind::kMissing : FileKind::kOther;
    return stamp;
  }
  return ToStamp(st);
}

bool ReadWholeFile(const std::string& path, std::string* content, FileStamp* stamp, bool* changed) {
  *changed = false;
  // Never waits on a named pipe or a device: only a regular file is read.
  Fd fd(Io().OpenAt(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0));
  struct stat st;
  if (!fd.ok() || Io().Stat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  Io().Lock(fd.get(), LOCK_SH);
  FileStamp before = StampOf(fd.get());
  char extra;
  if (!ReadAt(fd.get(), 0, before.size, content) ||
      Io().PRead(fd.get(), &extra, 1, static_cast<off_t>(before.size)) != 0 ||
      StampOf(fd.get()) != before) {
    *changed = true;
    return false;
  }
  *stamp = before;
  return true;
}

struct LockedFile::Parts {
  Fd fd;
  std::string path;
  Fd folder;              // of the file replaced; it outlives the temporary file
  TempFile replacement;   // the new file of a Replace, which holds the lock once renamed
  bool replaced = false;  // then it is the file
};

LockedFile::~LockedFile() { delete parts_; }

WriteResult LockedFile::Open(const std::string& path) {
  delete parts_;
  parts_ = new Parts;
  parts_->path = path;
  // The name may be renamed over by another run between the open and the lock: the lock then
  // holds a file that is gone, and the file the name leads to now is taken instead. Each turn
  // follows another run's finished write, so the turns are bounded by the runs that write.
  for (int attempt = 0; attempt < 256; ++attempt) {
    // Opened for appending: a write goes to the file's true end, wherever another program may
    // have put it meanwhile.
    Fd fd(Io().OpenAt(AT_FDCWD, path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC,
                      0666));
    struct stat held, named;
    if (!fd.ok() || Io().Stat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode) ||
        Io().Lock(fd.get(), LOCK_EX) != 0) {
      return WriteResult::kFailed;
    }
    if (stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino) {
      parts_->fd = std::move(fd);
      return WriteResult::kDone;
    }
  }
  return WriteResult::kFailed;
}

FileStamp LockedFile::stamp() const {
  return StampOf(parts_->replaced ? parts_->replacement.fd() : parts_->fd.get());
}

bool LockedFile::Read(std::uint64_t offset, std::uint64_t size, std::string* bytes) const {
  return ReadAt(parts_->fd.get(), offset, size, bytes);
}

namespace {

// Writes at `offset` through a descriptor opened for appending, which writes only at the end.
bool WriteInPlace(int fd, std::string_view bytes, std::uint64_t offset) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_APPEND) != 0) return false;
  const bool ok = WriteAllAt(fd, bytes, static_cast<std::int64_t>(offset));
  const int err = errno;
  fcntl(fd, F_SETFL, flags);
  errno = err;
  return ok;
}

}  // namespace

WriteResult LockedFile::Append(std::string_view bytes, std::uint64_t* at) {
  const int fd = parts_->fd.get();
  std::size_t written = 0;
  const bool ok = WriteAllAt(fd, bytes, -1, &written);
  const off_t end = lseek(fd, 0, SEEK_CUR);
  *at = static_cast<std::uint64_t>(end) - written;
  if (ok) return WriteResult::kDone;
  if (written > 0) {
    // Undone: cut off again where nothing came after; blanked, which reading ignores, where
    // another program appended behind the broken-off bytes.
    if (StampOf(fd).size == *at + written) {
      Io().Truncate(fd, static_cast<off_t>(*at));
    } else {
      WriteInPlace(fd, std::string(written, ' '), *at);
    }
  }
  return WriteResult::kFailed;
}

WriteResult LockedFile::Overwrite(std::uint64_t offset, std::string_view bytes) {
  return WriteInPlace(parts_->fd.get(), bytes, offset) ? WriteResult::kDone : WriteResult::kFailed;
}

namespace {

// Whether the file is still the one read in `expected`, grown at most by appends of another
// program (which the replacement carries over).
bool StillAsRead(const FileStamp& now, const FileStamp& expected) {
  return now.kind == FileKind::kRegular && now.device == expected.device &&
         now.inode == expected.inode && now.size >= expected.size &&
         (now.size > expected.size || now == expected);
}

}  // namespace

WriteResult LockedFile::Replace(std::string_view contents, const FileStamp& expected) {
  const int old = parts_->fd.get();
  struct stat st;
  if (Io().Stat(old, &st) != 0) return WriteResult::kFailed;
  if (!StillAsRead(ToStamp(st), expected)) return WriteResult::kChanged;

  // A link that the user set up stays: its target is replaced, in the target's folder.
  const std::string target = RealPath(parts_->path);
  const std::size_t slash = target.rfind('/');
  const std::string folder_name = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string leaf = slash == std::string::npos ? target : target.substr(slash + 1);
  Fd& folder = parts_->folder;
  folder.Reset(Io().OpenAt(AT_FDCWD, folder_name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!folder.ok()) return WriteResult::kFailed;

  TempFile& temp = parts_->replacement;
  int err = 0;
  if (!temp.Create(folder.get(), leaf, &err)) {
    if (err != EACCES && err != EPERM) return WriteResult::kFailed;
    // The folder refuses new files: the file is rewritten in place.
    if (!WriteInPlace(old, contents, 0) ||
        Io().Truncate(old, static_cast<off_t>(contents.size())) != 0) {
      return WriteResult::kFailed;
    }
    return WriteResult::kDone;
  }
  if (!WriteAllAt(temp.fd(), contents, 0) || GiveAttributesOf(temp.fd(), st) != 0 ||
      !temp.Flush()) {
    return WriteResult::kFailed;
  }
  // Right before the rename: the file must still be the one read, and its name must still lead
  // to it.
  struct stat named;
  if (!StillAsRead(StampOf(old), expected) ||
      Io().StatAt(folder.get(), leaf.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      named.st_dev != st.st_dev || named.st_ino != st.st_ino) {
    return WriteResult::kChanged;
  }
  if (!temp.RenameOver(leaf, &err)) return WriteResult::kFailed;
  Io().Sync(folder.get());
  // What another program appended to the old file in the moment before the rename goes on, at
  // the end of the new file, behind whatever it may have appended there since. A program that
  // opened the old file before the rename may still write to it right after: the old file is
  // watched until it has stayed as it is for a moment, a longer one once it was seen growing.
  const int flags = fcntl(temp.fd(), F_GETFL);
  if (flags < 0 || fcntl(temp.fd(), F_SETFL, flags | O_APPEND) != 0) return WriteResult::kDone;
  //
  // A write that is still going on can be seen in part (one that crosses a page of the file
  // grows it a page at a time), and the program's next write goes to the new file: so what is
  // carried over goes in pieces that end at a line end, each in one write, and a piece that does
  // not end at one waits for its rest, or for the quiet moment that ends the watch.
  std::uint64_t carried = expected.size;
  auto quiet = std::chrono::microseconds(200);
  auto last_change = std::chrono::steady_clock::now();
  std::uint64_t seen = carried;
  for (;;) {
    const std::uint64_t size = StampOf(old).size;
    const bool still = std::chrono::steady_clock::now() - last_change >= quiet;
    std::string late;
    if (size > carried && ReadAt(old, carried, size - carried, &late) &&
        (still || late.find_last_of("\r\n") == late.size() - 1)) {
      WriteAllAt(temp.fd(), late, -1);
      carried = size;
    } else if (still && size <= carried) {
      break;
    }
    if (size != seen) {
      seen = size;
      quiet = std::chrono::milliseconds(5);
      last_change = std::chrono::steady_clock::now();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  parts_->replaced = true;
  return WriteResult::kDone;
}

}  // namespace inifile
