#include "platform/replace-posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/Errors.h"
#include "posix/error.h"
#include "posix/state-folder.h"

namespace {

bool IsPermissionError(int err) { return err == EACCES || err == EPERM || err == EROFS; }

int CodeOf(int err) { return InOutCodeFromErrno(err); }

StatePlace PlaceOf(int place) {
  return place == 0 ? StatePlace::kStateFolder : StatePlace::kTemporaryFolder;
}

// Puts `bytes` in place of the open file's contents: space is reserved first, so that a full
// disk fails before the old contents are touched; the stop signals wait until it is done. 0, or
// the errno value.
int Overwrite(int fd, const std::string& bytes) {
  HoldStopSignals hold;
  if (!bytes.empty()) {
    int err = Io().Allocate(fd, static_cast<off_t>(bytes.size()));
    if (err != 0 && err != EOPNOTSUPP && err != EINVAL) return err;
  }
  if (!WriteAllAt(fd, bytes, 0) || Io().Truncate(fd, static_cast<off_t>(bytes.size())) != 0 ||
      Io().Sync(fd) != 0) {
    return errno;
  }
  // Closing a copy reports a write that only a close would.
  int copy = Io().Duplicate(fd);
  if (copy < 0 || Io().Close(copy) != 0) return errno;
  return 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

int OpenIdentified(int folder, const std::string& leaf, const struct stat& identity, int flags,
                   Fd* file) {
  Fd fd(Io().OpenAt(folder, leaf.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  if (!fd.ok()) {
    if (errno == ELOOP || errno == EISDIR || errno == ENXIO) return kAccessDenied;
    return CodeOf(errno);
  }
  struct stat st;
  if (Io().Stat(fd.get(), &st) != 0) return CodeOf(errno);
  if (!S_ISREG(st.st_mode) || !SameFile(st, identity)) {
    errno = 0;  // opened, but not the file
    return kAccessDenied;
  }
  *file = std::move(fd);
  return 0;
}

OpenOldFile OpensOf(int folder, const std::string& leaf, const struct stat& identity) {
  return [folder, leaf, identity](int flags, Fd* file) {
    return OpenIdentified(folder, leaf, identity, flags, file);
  };
}

// ---- The journal's primitives ----

int PosixJournalFiles::ReadData(std::string* bytes) {
  Fd file;
  if (int code = open_(O_RDONLY, &file)) return code;
  return ReadWhole(file.get(), bytes) ? 0 : CodeOf(errno);
}

int PosixJournalFiles::OverwriteData(const std::string& bytes) {
  Fd file;
  if (int code = open_(O_RDWR, &file)) return code;
  if (int err = Overwrite(file.get(), bytes)) return CodeOf(err);
  return 0;
}

bool PosixJournalFiles::ReadJournal(int place, const std::string& name, std::string* text) {
  Fd folder = OpenStateFolder(PlaceOf(place), "", false);
  if (!folder.ok()) return false;
  Fd journal(
      Io().OpenAt(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  struct stat st;
  return journal.ok() && Io().Stat(journal.get(), &st) == 0 && S_ISREG(st.st_mode) &&
         ReadWhole(journal.get(), text);
}

// A journal that cannot be written fails as "I/O error <errno>", never as one of the file's own
// messages ("File access denied"), which would point at the wrong file.
int PosixJournalFiles::WriteJournal(int place, const std::string& name, const std::string& text) {
  Fd folder = OpenStateFolder(PlaceOf(place), "", true);
  if (!folder.ok()) return PlainIoError(errno);
  TempFile temp;
  int err = 0;
  if (!temp.Create(folder.get(), name, &err)) return PlainIoError(err);
  if (!WriteAllAt(temp.fd(), text, 0) || !temp.Flush()) return PlainIoError(errno);
  if (!temp.RenameOver(name, &err)) return PlainIoError(err);
  if (Io().Sync(folder.get()) != 0) return PlainIoError(errno);
  return 0;
}

void PosixJournalFiles::RemoveJournal(int place, const std::string& name) {
  Fd folder = OpenStateFolder(PlaceOf(place), "", false);
  if (!folder.ok()) return;
  Io().UnlinkAt(folder.get(), name.c_str(), 0);
  Io().Sync(folder.get());
}

// ---- A replacement ----

PosixReplace::PosixReplace(int folder, std::string leaf, std::string path, const PosixOldFile& old,
                           OpenOldFile open)
    : folder_(folder),
      leaf_(std::move(leaf)),
      path_(std::move(path)),
      old_(old),
      journal_(std::move(open)) {}

int PosixReplace::MakeTemporary() {
  int err = 0;
  if (temp_.Create(folder_, leaf_, &err)) return 0;
  return old_.exists && IsPermissionError(err) ? kFolderRefuses : CodeOf(err);
}

int PosixReplace::WriteTemporary(std::string_view bytes) {
  if (!WriteAllAt(temp_.fd(), bytes, static_cast<std::int64_t>(temp_size_))) return CodeOf(errno);
  temp_size_ += bytes.size();
  return 0;
}

int PosixReplace::GiveAttributes() {
  if (old_.exists) {
    int err = GiveAttributesOf(temp_.fd(), old_.read_as);
    return err == 0 ? 0 : CodeOf(err);
  }
  mode_t mask = umask(0);
  umask(mask);
  return Io().ChangeMode(temp_.fd(), 0666 & ~mask) == 0 ? 0 : CodeOf(errno);
}

int PosixReplace::FlushTemporary() { return temp_.Flush() ? 0 : CodeOf(errno); }

FileNow PosixReplace::Compare() {
  struct stat named;
  if (Io().StatAt(folder_, leaf_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT && !old_.exists ? FileNow::kAsRead : FileNow::kOther;
  }
  if (!old_.exists || !SameFile(named, old_.read_as)) return FileNow::kOther;
  if (!old_.keeps_appends) return FileNow::kAsRead;
  // The exchange file: the open file is the one read, as it was read or grown.
  struct stat now;
  const struct stat& read = old_.read_as;
  if (Io().Stat(old_.fd, &now) != 0 || !SameFile(now, read) || now.st_size < read.st_size) {
    return FileNow::kOther;
  }
  if (now.st_size > read.st_size) return FileNow::kAppended;
  const bool same_times =
      now.st_mtim.tv_sec == read.st_mtim.tv_sec && now.st_mtim.tv_nsec == read.st_mtim.tv_nsec &&
      now.st_ctim.tv_sec == read.st_ctim.tv_sec && now.st_ctim.tv_nsec == read.st_ctim.tv_nsec;
  return same_times ? FileNow::kAsRead : FileNow::kOther;
}

bool PosixReplace::ReadOldFrom(std::uint64_t offset, std::string* bytes) {
  struct stat now;
  if (Io().Stat(old_.fd, &now) != 0) return false;
  const std::uint64_t size = static_cast<std::uint64_t>(now.st_size);
  bytes->clear();
  return size <= offset || ReadAt(old_.fd, offset, size - offset, bytes);
}

int PosixReplace::RenameOver() {
  int err = 0;
  if (!temp_.RenameOver(leaf_, &err)) {
    // A folder with the sticky bit lets nobody but the owner replace another user's file.
    return old_.exists && IsPermissionError(err) ? kFolderRefuses : CodeOf(err);
  }
  // The turn goes on with the new file, which this run holds locked: a run that waits for the
  // old one goes on to it, and lets go of the old file.
  if (old_.keeps_appends) Io().Lock(old_.fd, LOCK_UN);
  return 0;
}

void PosixReplace::FlushFolder() { Io().Sync(folder_); }

int PosixReplace::AppendToNew(std::string_view bytes) {
  // Through the file's true end: the other program's next write goes to the new file too.
  if (!appending_) {
    const int flags = fcntl(temp_.fd(), F_GETFL);
    if (flags < 0 || fcntl(temp_.fd(), F_SETFL, flags | O_APPEND) != 0) return CodeOf(errno);
    appending_ = true;
  }
  return WriteAllAt(temp_.fd(), bytes, -1) ? 0 : CodeOf(errno);
}

// A write lease can be had only on a file that no other open file description holds: this run's
// own, open for writing, is the one the lease is asked on. It is let go at once.
Holders PosixReplace::OldFileHolders() {
  if (old_.fd < 0) return Holders::kUnknown;
  // A program that opens the file while the lease is held breaks it, and the kernel then sends
  // this process SIGIO, whose default is to end it: the run has no use for the signal.
  static const bool ignored = [] {
    struct sigaction now {};
    if (sigaction(SIGIO, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) signal(SIGIO, SIG_IGN);
    return true;
  }();
  static_cast<void>(ignored);
  if (fcntl(old_.fd, F_SETLEASE, F_WRLCK) == 0) {
    fcntl(old_.fd, F_SETLEASE, F_UNLCK);
    return Holders::kNone;
  }
  // Not the file's owner (without the right to take leases), or a file system without leases.
  return errno == EAGAIN ? Holders::kSome : Holders::kUnknown;
}

void PosixReplace::Pause() { usleep(50); }

JournaledFile PosixReplace::Journaled() const {
  return JournaledFile{path_, leaf_, static_cast<std::uint64_t>(old_.read_as.st_dev),
                       static_cast<std::uint64_t>(old_.read_as.st_ino)};
}
