// The INI file's primitives on POSIX systems.
#include "platform/ini-file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/Errors.h"
#include "platform/journal.h"
#include "platform/replace-posix.h"
#include "platform/replace.h"
#include "platform/turn.h"
#include "posix/error.h"
#include "posix/fd.h"
#include "posix/path.h"

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
  stamp.modified = Nanoseconds(st.st_mtim);
  stamp.changed = Nanoseconds(st.st_ctim);
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
  std::string path;
  Fd file;                // open for appending: a write goes to the file's true end
  struct stat opened {};  // the file when it was locked
  bool written = false;   // since then
  struct stat after {};   // after this run's append, when that is all that changed
  bool after_known = false;
  Fd folder;                                  // of the file replaced
  std::unique_ptr<PosixReplace> replacement;  // of a Replace
  int fd() const { return file.get(); }
};

LockedFile::~LockedFile() { delete parts_; }

namespace {

// The turn at the file, opened for appending: a write goes to the file's true end, wherever
// another program may have put it meanwhile; a missing file is made. Another run may replace the
// file while this one waits for the lock; then the file that the name leads to now is opened.
// Where the file has one name, a file that the name no longer leads to has none: its count of
// links tells, with no look at the name.
class IniTurnFiles : public TurnFiles {
 public:
  IniTurnFiles(const std::string& path, Fd* file, struct stat* opened)
      : path_(path), file_(*file), opened_(*opened) {}

  int Open() override {
    file_.Reset(Io().OpenAt(AT_FDCWD, path_.c_str(),
                            O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
    return file_.ok() ? 0 : InOutCodeFromErrno(errno);
  }
  int Lock(bool exclusive) override {
    if (Io().Lock(file_.get(), exclusive ? LOCK_EX : LOCK_SH) != 0 ||
        Io().Stat(file_.get(), &opened_) != 0) {
      return InOutCodeFromErrno(errno);
    }
    return S_ISREG(opened_.st_mode) ? 0 : kAccessDenied;
  }
  bool NameLeadsToOpen() override {
    if (opened_.st_nlink == 1) return true;
    struct stat named;
    return opened_.st_nlink > 1 && stat(path_.c_str(), &named) == 0 &&
           named.st_dev == opened_.st_dev && named.st_ino == opened_.st_ino;
  }
  void Close() override { file_.Reset(); }

 private:
  const std::string& path_;
  Fd& file_;
  struct stat& opened_;
};

}  // namespace

WriteResult LockedFile::Open(const std::string& path) {
  delete parts_;
  parts_ = new Parts;
  Parts& p = *parts_;
  p.path = path;
  IniTurnFiles turns(path, &p.file, &p.opened);
  return TakeTurn(turns, true) == 0 ? WriteResult::kDone : WriteResult::kFailed;
}

FileStamp LockedFile::stamp() const {
  const Parts& p = *parts_;
  if (!p.written) return ToStamp(p.opened);
  if (p.after_known) return ToStamp(p.after);
  return StampOf(p.fd());
}

bool LockedFile::Read(std::uint64_t offset, std::uint64_t size, std::string* bytes) const {
  return ReadAt(parts_->fd(), offset, size, bytes);
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
  Parts& p = *parts_;
  const int fd = p.fd();
  p.written = true;
  std::size_t written = 0;
  const bool ok = WriteAllAt(fd, bytes, -1, &written);
  // The file after the write tells where it landed: at the end the file had when it was locked,
  // unless another program appended meanwhile; only then is the position asked for.
  const std::uint64_t before = static_cast<std::uint64_t>(p.opened.st_size);
  if (ok && Io().Stat(fd, &p.after) == 0 &&
      static_cast<std::uint64_t>(p.after.st_size) == before + written) {
    p.after_known = true;
    *at = before;
    return WriteResult::kDone;
  }
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
  parts_->written = true;
  return WriteInPlace(parts_->fd(), bytes, offset) ? WriteResult::kDone : WriteResult::kFailed;
}

namespace {

struct timespec TimeOf(std::int64_t ns) {
  struct timespec t;
  t.tv_sec = static_cast<time_t>(ns / 1000000000);
  t.tv_nsec = static_cast<long>(ns % 1000000000);
  return t;
}

}  // namespace

WriteResult LockedFile::Replace(std::string_view contents, const FileStamp& expected) {
  Parts& p = *parts_;
  PosixOldFile old;
  old.exists = true;
  old.fd = p.fd();
  old.keeps_appends = true;
  if (Io().Stat(old.fd, &old.read_as) != 0) return WriteResult::kFailed;
  // As it was read: what it has grown by since is what another program appended.
  old.read_as.st_size = static_cast<off_t>(expected.size);
  old.read_as.st_mtim = TimeOf(expected.modified);
  old.read_as.st_ctim = TimeOf(expected.changed);
  if (old.read_as.st_dev != expected.device || old.read_as.st_ino != expected.inode) {
    return WriteResult::kChanged;
  }

  // A link that the user set up stays: its target is replaced, in the target's folder.
  const std::string target = RealPath(p.path);
  const std::size_t slash = target.rfind('/');
  const std::string folder_name = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string leaf = slash == std::string::npos ? target : target.substr(slash + 1);
  p.folder.Reset(Io().OpenAt(AT_FDCWD, folder_name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!p.folder.ok()) return WriteResult::kFailed;
  const int folder = p.folder.get();
  OpenOldFile opens = OpensOf(folder, leaf, old.read_as);
  p.replacement = std::make_unique<PosixReplace>(folder, leaf, target, old, opens);
  p.written = true;
  const int code = ReplaceWhole(*p.replacement, contents);
  if (code == kFileChanged) return WriteResult::kChanged;
  if (code != 0) return WriteResult::kFailed;
  // The new file, still locked, is the file from now on.
  Fd fresh = p.replacement->TakeNewFile();
  if (fresh.ok()) p.file = std::move(fresh);
  return WriteResult::kDone;
}

bool Recover(const std::string& path) {
  const std::string target = RealPath(path);
  const std::size_t slash = target.rfind('/');
  const std::string folder_name = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string leaf = slash == std::string::npos ? target : target.substr(slash + 1);
  Fd folder(Io().OpenAt(AT_FDCWD, folder_name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  struct stat identity;
  if (!folder.ok() ||
      Io().StatAt(folder.get(), leaf.c_str(), &identity, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(identity.st_mode)) {
    return true;
  }
  PosixJournalFiles files(OpensOf(folder.get(), leaf, identity));
  return RecoverFromJournal(files,
                            JournaledFile{target, leaf, static_cast<std::uint64_t>(identity.st_dev),
                                          static_cast<std::uint64_t>(identity.st_ino)}) == 0;
}

}  // namespace inifile
