// The INI engine's file primitives on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ini-file.h"
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

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* content, FileStamp* stamp, bool* changed) {
  *changed = false;
  Fd fd(Io().OpenAt(AT_FDCWD, path.c_str(), O_RDONLY | O_CLOEXEC, 0));
  struct stat st;
  if (!fd.ok() || Io().Stat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  FileStamp before = ToStamp(st);
  content->resize(static_cast<size_t>(before.size));
  std::int64_t got = ReadFully(fd.get(), &(*content)[0], content->size());
  char extra;
  if (got != static_cast<std::int64_t>(content->size()) || ReadFully(fd.get(), &extra, 1) != 0 ||
      Io().Stat(fd.get(), &st) != 0 || ToStamp(st) != before) {
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
  int fd = mkstemp(&name[0]);  // replaced in the next change
  if (fd >= 0) *temp_name = name;
  return fd;
}

// Overwrites the open file `fd` with `contents`; the fallback when no temporary file can be
// created beside it.
WriteResult OverwriteInPlace(Fd* fd, std::string_view contents, FileStamp* expected) {
  struct stat st;
  if (!WriteAllAt(fd->get(), contents, 0) || Io().Truncate(fd->get(), contents.size()) != 0 ||
      Io().Stat(fd->get(), &st) != 0 || !fd->Close()) {
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
  Fd fd(Io().OpenAt(AT_FDCWD, path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666));
  if (!fd.ok()) return (!create && errno == ENOENT) ? WriteResult::kChanged : WriteResult::kFailed;
  struct stat st;
  if (Io().Stat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return WriteResult::kFailed;
  if (create ? st.st_size != 0 : ToStamp(st) != *expected) return WriteResult::kChanged;
  std::uint64_t end = offset + data.size();
  const std::uint64_t old_size = static_cast<std::uint64_t>(st.st_size);
  // The bytes the write covers, so that a write that breaks off (a full disk) can be undone
  // and the file keeps its last complete item.
  std::string old_tail;
  if (offset < old_size) {
    old_tail.resize(old_size - offset);
    if (Io().PRead(fd.get(), &old_tail[0], old_tail.size(), static_cast<off_t>(offset)) !=
        static_cast<ssize_t>(old_tail.size())) {
      return WriteResult::kFailed;
    }
  }
  if (!WriteAllAt(fd.get(), data, static_cast<std::int64_t>(offset))) {
    if (!old_tail.empty()) WriteAllAt(fd.get(), old_tail, static_cast<std::int64_t>(offset));
    if (Io().Truncate(fd.get(), static_cast<off_t>(old_size)) != 0) {
      // Nothing more can be done: the write is reported as failed either way.
    }
    return WriteResult::kFailed;
  }
  if (cut && static_cast<std::uint64_t>(st.st_size) > end &&
      Io().Truncate(fd.get(), static_cast<off_t>(end)) != 0) {
    return WriteResult::kFailed;
  }
  if (Io().Stat(fd.get(), &st) != 0 || !fd.Close()) return WriteResult::kFailed;
  *expected = ToStamp(st);
  return WriteResult::kDone;
}

WriteResult ReplaceContents(const std::string& path, FileStamp* expected,
                            std::string_view contents) {
  // Opening the file for writing checks that it may be written at all; it stays untouched.
  Fd file(Io().OpenAt(AT_FDCWD, path.c_str(), O_WRONLY | O_CLOEXEC, 0));
  if (!file.ok()) return errno == ENOENT ? WriteResult::kChanged : WriteResult::kFailed;
  struct stat st;
  if (Io().Stat(file.get(), &st) != 0) return WriteResult::kFailed;
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
      Io().ChangeOwner(temp.get(), st.st_uid, st.st_gid) != 0) {
    // Only a privileged process may give the file to another owner; the new file then keeps
    // this process's owner, which is no reason to fail.
  }
  ok = ok && Io().ChangeMode(temp.get(), st.st_mode & 07777) == 0;
  ok = ok && Io().Sync(temp.get()) == 0;
  ok = ok && Io().RenameAt(AT_FDCWD, temp_name.c_str(), AT_FDCWD, target.c_str()) == 0;
  if (!ok) {
    Io().UnlinkAt(AT_FDCWD, temp_name.c_str(), 0);
    return WriteResult::kFailed;
  }
  // Renaming changes the file's change time, so its state is taken after the rename.
  if (Io().Stat(temp.get(), &st) != 0 || !temp.Close()) return WriteResult::kFailed;
  *expected = ToStamp(st);
  return WriteResult::kDone;
}

}  // namespace inifile
