// The INI engine's file primitives on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/inifile.h"
#include "platform/posix-fd.h"

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

// Reads until `size` bytes are in or the file ends; the count read.
size_t ReadFully(int fd, char* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// One attempt at reading the whole file: false when it is unreadable, or grew or changed
// during the read (then *changed is set).
}  // namespace

bool ReadWholeFile(const std::string& path, std::string* content, FileStamp* stamp, bool* changed) {
  *changed = false;
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!fd.ok() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  FileStamp before = ToStamp(st);
  content->resize(static_cast<size_t>(before.size));
  size_t got = ReadFully(fd.get(), &(*content)[0], content->size());
  char extra;
  if (got != content->size() || ReadFully(fd.get(), &extra, 1) != 0 || fstat(fd.get(), &st) != 0 ||
      ToStamp(st) != before) {
    *changed = true;
    return false;
  }
  *stamp = before;
  return true;
}

namespace {

// Creates a temporary file beside `target` whose name starts with the target's; the
// descriptor, or -1 with errno set.
int CreateTempBeside(const std::string& target, std::string* temp_name) {
  size_t slash = target.rfind('/');
  std::string name = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".XXXXXX";
  int fd = mkstemp(&name[0]);
  if (fd >= 0) *temp_name = name;
  return fd;
}

// Overwrites the open file `fd` with `contents`; the fallback when no temporary file can be
// created beside it.
WriteResult OverwriteInPlace(Fd* fd, std::string_view contents, FileStamp* expected) {
  struct stat st;
  if (!WriteAllAt(fd->get(), contents, 0) || ftruncate(fd->get(), contents.size()) != 0 ||
      fstat(fd->get(), &st) != 0 || !fd->Close()) {
    return WriteResult::kFailed;
  }
  *expected = ToStamp(st);
  return WriteResult::kDone;
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

WriteResult WriteAt(const std::string& path, FileStamp* expected, std::uint64_t offset,
                    std::string_view data, bool cut) {
  bool create = expected->kind == FileKind::kMissing;
  Fd fd(open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666));
  if (!fd.ok()) return (!create && errno == ENOENT) ? WriteResult::kChanged : WriteResult::kFailed;
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return WriteResult::kFailed;
  if (create ? st.st_size != 0 : ToStamp(st) != *expected) return WriteResult::kChanged;
  std::uint64_t end = offset + data.size();
  const std::uint64_t old_size = static_cast<std::uint64_t>(st.st_size);
  // The bytes the write covers, so that a write that breaks off (a full disk) can be undone
  // and the file keeps its last complete item.
  std::string old_tail;
  if (offset < old_size) {
    old_tail.resize(old_size - offset);
    if (pread(fd.get(), &old_tail[0], old_tail.size(), static_cast<off_t>(offset)) !=
        static_cast<ssize_t>(old_tail.size())) {
      return WriteResult::kFailed;
    }
  }
  if (!WriteAllAt(fd.get(), data, offset)) {
    if (!old_tail.empty()) WriteAllAt(fd.get(), old_tail, offset);
    if (ftruncate(fd.get(), static_cast<off_t>(old_size)) != 0) {
      // Nothing more can be done: the write is reported as failed either way.
    }
    return WriteResult::kFailed;
  }
  if (cut && static_cast<std::uint64_t>(st.st_size) > end &&
      ftruncate(fd.get(), static_cast<off_t>(end)) != 0) {
    return WriteResult::kFailed;
  }
  if (fstat(fd.get(), &st) != 0 || !fd.Close()) return WriteResult::kFailed;
  *expected = ToStamp(st);
  return WriteResult::kDone;
}

WriteResult ReplaceContents(const std::string& path, FileStamp* expected,
                            std::string_view contents) {
  // Opening the file for writing checks that it may be written at all; it stays untouched.
  Fd file(open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (!file.ok()) return errno == ENOENT ? WriteResult::kChanged : WriteResult::kFailed;
  struct stat st;
  if (fstat(file.get(), &st) != 0) return WriteResult::kFailed;
  if (ToStamp(st) != *expected) return WriteResult::kChanged;

  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return WriteResult::kFailed;
  std::string target(resolved);
  free(resolved);

  std::string temp_name;
  Fd temp(CreateTempBeside(target, &temp_name));
  if (!temp.ok()) {
    if (errno == EACCES || errno == EPERM) return OverwriteInPlace(&file, contents, expected);
    return WriteResult::kFailed;
  }
  bool ok = WriteAllAt(temp.get(), contents, 0);
  if (ok && (st.st_uid != geteuid() || st.st_gid != getegid()) &&
      fchown(temp.get(), st.st_uid, st.st_gid) != 0) {
    // Only a privileged process may give the file to another owner; the new file then keeps
    // this process's owner, which is no reason to fail.
  }
  ok = ok && fchmod(temp.get(), st.st_mode & 07777) == 0;
  ok = ok && rename(temp_name.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temp_name.c_str());
    return WriteResult::kFailed;
  }
  // Renaming changes the file's change time, so its state is taken after the rename.
  if (fstat(temp.get(), &st) != 0 || !temp.Close()) return WriteResult::kFailed;
  *expected = ToStamp(st);
  return WriteResult::kDone;
}

}  // namespace inifile
