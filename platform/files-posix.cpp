// The data file on POSIX systems: found through the Wine prefix, pinned by its folder's
// descriptor and its device and inode, and replaced through that folder.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/Errors.h"
#include "platform/files.h"
#include "platform/journal.h"
#include "platform/posix-error.h"
#include "platform/posix-fd.h"
#include "platform/posix-path.h"
#include "platform/posix-temp.h"
#include "platform/wine-paths.h"

struct DataFilePin::State {
  Fd folder;
  std::string path;  // the file's full name, after links
  std::string leaf;  // its name in the folder
  bool exists = false;
  bool regular = false;
  dev_t device = 0;
  ino_t inode = 0;
};

namespace {

using State = DataFilePin::State;

bool IsPermissionError(int err) { return err == EACCES || err == EPERM || err == EROFS; }

void Split(const std::string& path, std::string* folder, std::string* leaf) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    *folder = ".";
    *leaf = path;
  } else {
    *folder = slash == 0 ? "/" : path.substr(0, slash);
    *leaf = path.substr(slash + 1);
  }
}

bool SameFile(const struct stat& st, const State& s) {
  return st.st_dev == s.device && st.st_ino == s.inode;
}

// Opens the pinned file itself: never through a link put in its place, never another file.
Fd OpenPinned(const State& s, int flags) {
  if (!s.exists) RaiseInOutError(kFileNotFound);
  Fd fd(
      Io().OpenAt(s.folder.get(), s.leaf.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  if (!fd.ok()) {
    if (errno == ELOOP || errno == EISDIR || errno == ENXIO) RaiseInOutError(kAccessDenied);
    RaiseErrno(errno);
  }
  struct stat st;
  if (Io().Stat(fd.get(), &st) != 0) RaiseErrno(errno);
  if (!S_ISREG(st.st_mode) || !SameFile(st, s)) RaiseInOutError(kAccessDenied);
  return fd;
}

// Puts `bytes` in place of the open file's contents: space is reserved first, so that a full
// disk fails before the old contents are touched; the stop signals wait until it is done.
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

// ---- The journal of in-place rewrites ----

// $XDG_STATE_HOME/keepxfer, or ~/.local/state/keepxfer: a folder of the user's that survives a
// restart. Empty when no home is known.
std::string JournalFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/keepxfer";
  const char* home = std::getenv("HOME");
  std::string base = home != nullptr && home[0] != '\0' ? home : "";
  if (base.empty()) {
    const passwd* entry = getpwuid(getuid());
    if (entry != nullptr && entry->pw_dir != nullptr) base = entry->pw_dir;
  }
  return base.empty() ? "" : base + "/.local/state/keepxfer";
}

// The journal folder, made (with its parents, private to the user) when `create` is set.
Fd OpenJournalFolder(bool create) {
  std::string path = JournalFolder();
  if (path.empty()) {
    errno = ENOENT;
    return Fd();
  }
  if (create) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
      std::string part = path.substr(0, slash);
      if (Io().MakeDirAt(AT_FDCWD, part.c_str(), 0700) != 0 && errno != EEXIST) return Fd();
      if (slash == std::string::npos) break;
    }
  }
  return Fd(Io().OpenAt(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
}

std::string JournalNameOf(const State& s) {
  return JournalName(s.leaf, static_cast<std::uint64_t>(s.device),
                     static_cast<std::uint64_t>(s.inode));
}

// Writes the journal whole, flushed, before it gets its name. 0, or the errno value.
int WriteJournal(const State& s, const std::string& old_bytes, const std::string& new_bytes) {
  Fd folder = OpenJournalFolder(true);
  if (!folder.ok()) return errno;
  JournalRecord record{s.path, static_cast<std::uint64_t>(s.device),
                       static_cast<std::uint64_t>(s.inode), old_bytes, new_bytes};
  const std::string name = JournalNameOf(s);
  TempFile temp;
  int err = 0;
  if (!temp.Create(folder.get(), name, &err)) return err;
  if (!WriteAllAt(temp.fd(), EncodeJournal(record), 0) || !temp.Flush()) return errno;
  if (!temp.RenameOver(name, &err)) return err;
  if (Io().Sync(folder.get()) != 0) return errno;
  return 0;
}

void RemoveJournal(const State& s) {
  Fd folder = OpenJournalFolder(false);
  if (!folder.ok()) return;
  Io().UnlinkAt(folder.get(), JournalNameOf(s).c_str(), 0);
  Io().Sync(folder.get());
}

// Finishes what a stopped in-place rewrite of this file left: the old bytes go back when the
// file is torn; a journal of a rewrite that finished, or never started, just goes. A journal
// that the file does not match (it changed since) is left alone.
void RecoverFromJournal(const State& s) {
  Fd folder = OpenJournalFolder(false);
  if (!folder.ok()) return;
  const std::string name = JournalNameOf(s);
  Fd journal(
      Io().OpenAt(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  struct stat st;
  if (!journal.ok() || Io().Stat(journal.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  std::string text;
  JournalRecord record;
  if (!ReadWhole(journal.get(), &text) || !DecodeJournal(text, &record) || record.path != s.path ||
      record.volume != static_cast<std::uint64_t>(s.device) ||
      record.file != static_cast<std::uint64_t>(s.inode)) {
    return;
  }
  std::string current;
  if (!ReadWhole(OpenPinned(s, O_RDONLY).get(), &current)) RaiseErrno(errno);
  switch (JudgeDataFile(current, record)) {
    case JournalVerdict::kForeign:
      return;
    case JournalVerdict::kTorn:
      if (int err = Overwrite(OpenPinned(s, O_RDWR).get(), record.old_bytes)) RaiseErrno(err);
      break;
    case JournalVerdict::kOld:
    case JournalVerdict::kNew:
      break;
  }
  Io().UnlinkAt(folder.get(), name.c_str(), 0);
  Io().Sync(folder.get());
}

// The folder refuses new files: the file is rewritten in place, under a journal.
void RewriteInPlace(const State& s, const std::string& bytes) {
  Fd file = OpenPinned(s, O_RDWR);
  const int fd = file.get();
  std::string old_bytes;
  if (!ReadWhole(fd, &old_bytes)) RaiseErrno(errno);
  if (int err = WriteJournal(s, old_bytes, bytes)) RaiseErrno(err);
  if (int err = Overwrite(fd, bytes)) {
    // What could be written goes back; the journal stays for the next run should that fail.
    if (Overwrite(fd, old_bytes) == 0) RemoveJournal(s);
    RaiseErrno(err);
  }
  RemoveJournal(s);
}

}  // namespace

DataFilePin::DataFilePin(const std::string& name) : name_(name), state_(std::make_unique<State>()) {
  State& s = *state_;
  ResolvedPath resolved = ResolveProductPath(name);
  if (resolved.error != 0 && resolved.error != kFileNotFound) RaiseInOutError(resolved.error);
  std::string folder;
  Split(resolved.path, &folder, &s.leaf);
  if (resolved.error == 0) {
    // A link that the user set up leads to the file to use.
    Split(RealPath(resolved.path), &folder, &s.leaf);
  } else {
    folder = RealPath(folder);
  }
  s.path = (folder == "/" ? "" : folder) + "/" + s.leaf;
  s.folder.Reset(Io().OpenAt(AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!s.folder.ok() && errno == EACCES) {
    // A folder that may be searched but not listed still serves; it is only not swept.
    s.folder.Reset(Io().OpenAt(AT_FDCWD, folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0));
  }
  if (!s.folder.ok()) RaiseErrno(errno);
  struct stat st;
  if (Io().StatAt(s.folder.get(), s.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) RaiseErrno(errno);
    return;
  }
  s.exists = true;
  s.regular = S_ISREG(st.st_mode);
  s.device = st.st_dev;
  s.inode = st.st_ino;
  if (s.regular) RecoverFromJournal(s);
}

DataFilePin::~DataFilePin() = default;

DataFile::DataFile(const DataFilePin& pin, FileAccess access) {
  handle_ = OpenPinned(pin.state(), access == FileAccess::kRead ? O_RDONLY : O_RDWR).Release();
}

DataFile::~DataFile() {
  if (handle_ >= 0) Io().Close(static_cast<int>(handle_));
}

std::size_t DataFile::Read(void* buffer, std::size_t size) {
  std::int64_t done = ReadFully(static_cast<int>(handle_), static_cast<char*>(buffer), size);
  if (done < 0) RaiseErrno(errno);
  return static_cast<std::size_t>(done);
}

void ReplaceDataFile(const DataFilePin& pin, const std::string& bytes) {
  State& s = pin.state();
  // The old file must be the pinned one, and writable by this user, as it would be for an
  // in-place rewrite.
  struct stat old_st;
  if (s.exists && Io().Stat(OpenPinned(s, O_WRONLY).get(), &old_st) != 0) RaiseErrno(errno);

  TempFile temp;
  int err = 0;
  if (!temp.Create(s.folder.get(), s.leaf, &err)) {
    if (s.exists && IsPermissionError(err)) return RewriteInPlace(s, bytes);
    RaiseErrno(err);
  }
  if (!WriteAllAt(temp.fd(), bytes, 0)) RaiseErrno(errno);
  if (s.exists) {
    err = GiveAttributesOf(temp.fd(), old_st);
  } else {
    mode_t mask = umask(0);
    umask(mask);
    err = Io().ChangeMode(temp.fd(), 0666 & ~mask) == 0 ? 0 : errno;
  }
  if (err != 0) RaiseErrno(err);
  if (!temp.Flush()) RaiseErrno(errno);

  // The name must still lead to the file that was checked, or still be free.
  struct stat now;
  if (Io().StatAt(s.folder.get(), s.leaf.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!s.exists || !SameFile(now, s)) RaiseInOutError(kAccessDenied);
  } else if (errno != ENOENT || s.exists) {
    RaiseInOutError(kAccessDenied);
  }
  struct stat fresh;
  if (Io().Stat(temp.fd(), &fresh) != 0) RaiseErrno(errno);
  if (!temp.RenameOver(s.leaf, &err)) RaiseErrno(err);
  Io().Sync(s.folder.get());
  s.exists = s.regular = true;
  s.device = fresh.st_dev;
  s.inode = fresh.st_ino;
}

bool IsPinnedFile(const std::string& path, const DataFilePin& pin) {
  const State& s = pin.state();
  struct stat st;
  return s.exists && stat(path.c_str(), &st) == 0 && SameFile(st, s);
}

bool IsExistingFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}
