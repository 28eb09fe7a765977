// The data file on POSIX systems: found through the Wine prefix, pinned by its folder's
// descriptor and its device and inode, and replaced through that folder.
#include "platform/files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/Errors.h"
#include "platform/journal.h"
#include "posix/error.h"
#include "posix/fd.h"
#include "posix/path.h"
#include "posix/temp-file.h"
#include "wine/paths.h"

struct DataFilePin::State {
  Fd folder;
  Fd turn;           // the file, locked while this run's turn lasts
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

// Opens the pinned file itself: never through a link put in its place, never another file. With
// `or_flags`, an open that the file's permissions refuse is tried again with those.
Fd OpenPinned(const State& s, int flags, int or_flags = -1) {
  if (!s.exists) RaiseInOutError(kFileNotFound);
  Fd fd(
      Io().OpenAt(s.folder.get(), s.leaf.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
  if (!fd.ok() && errno == EACCES && or_flags >= 0) return OpenPinned(s, or_flags);
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

// ---- The journal's primitives ----

// The folders a journal may be in, tried in this order: the state folder, a folder of the user's
// that survives a restart; and, for a user whose home cannot be written, a folder of the user's
// alone in the temporary folder.
enum JournalPlace : int { kStateFolder = 0, kTemporaryFolder = 1, kJournalPlaces = 2 };

// $XDG_STATE_HOME/keepxfer, or ~/.local/state/keepxfer. Empty when no home is known.
std::string StateJournalFolder() {
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

// The state folder, made (with its parents, private to the user) when `create` is set.
Fd OpenStateJournalFolder(bool create) {
  std::string path = StateJournalFolder();
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

// keepxfer-<uid> in $TMPDIR when that is an absolute path, else in /tmp.
std::string TemporaryJournalFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp != nullptr && tmp[0] == '/' ? StripTrailingSlashes(tmp) : "/tmp";
  return (base == "/" ? "" : base) + "/keepxfer-" + std::to_string(geteuid());
}

// A directory of this user's alone: owned by this user, and written by neither its group nor
// others.
bool IsPrivateFolder(const struct stat& st) {
  return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// No folder, for a folder that must not be used.
Fd Refused() {
  errno = EACCES;
  return Fd();
}

// The journal folder in the temporary folder, made (mode 0700) when `create` is set. Every user
// may make names in the temporary folder, so a folder of that name that another user could have
// put there, or could write into, is refused: a link, one of another owner, one that its group
// or others may write.
Fd OpenTemporaryJournalFolder(bool create) {
  const std::string path = TemporaryJournalFolder();
  if (create && Io().MakeDirAt(AT_FDCWD, path.c_str(), 0700) != 0 && errno != EEXIST) return Fd();
  struct stat named;
  if (Io().StatAt(AT_FDCWD, path.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return Fd();
  if (!IsPrivateFolder(named)) return Refused();
  Fd folder(
      Io().OpenAt(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
  if (!folder.ok()) return folder;
  // The folder opened must be the one looked at, not one put in its place since.
  struct stat opened;
  if (Io().Stat(folder.get(), &opened) != 0) return Fd();
  if (!SameFile(opened, named)) return Refused();
  return folder;
}

Fd OpenJournalFolder(int place, bool create) {
  return place == kStateFolder ? OpenStateJournalFolder(create)
                               : OpenTemporaryJournalFolder(create);
}

// The pinned data file and the journal folders, for the journal's policy.
class PosixJournalFiles : public JournalFiles {
 public:
  // `open` is the data file when the caller holds it open already.
  PosixJournalFiles(const State& s, int open = -1) : s_(s), open_(open) {}

  std::string ReadData() override {
    std::string bytes;
    if (!ReadWhole(Data(O_RDONLY), &bytes)) RaiseErrno(errno);
    return bytes;
  }

  int OverwriteData(const std::string& bytes) override {
    if (int err = Overwrite(Data(O_RDWR), bytes)) return InOutCodeFromErrno(err);
    return 0;
  }

  int JournalPlaces() const override { return kJournalPlaces; }

  bool ReadJournal(int place, const std::string& name, std::string* text) override {
    Fd folder = OpenJournalFolder(place, false);
    if (!folder.ok()) return false;
    Fd journal(
        Io().OpenAt(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
    struct stat st;
    return journal.ok() && Io().Stat(journal.get(), &st) == 0 && S_ISREG(st.st_mode) &&
           ReadWhole(journal.get(), text);
  }

  // A journal that cannot be written fails as "I/O error <errno>", never as one of the data
  // file's own messages ("File access denied"), which would point at the wrong file.
  int WriteJournal(int place, const std::string& name, const std::string& text) override {
    Fd folder = OpenJournalFolder(place, true);
    if (!folder.ok()) return PlainIoError(errno);
    TempFile temp;
    int err = 0;
    if (!temp.Create(folder.get(), name, &err)) return PlainIoError(err);
    if (!WriteAllAt(temp.fd(), text, 0) || !temp.Flush()) return PlainIoError(errno);
    if (!temp.RenameOver(name, &err)) return PlainIoError(err);
    if (Io().Sync(folder.get()) != 0) return PlainIoError(errno);
    return 0;
  }

  void RemoveJournal(int place, const std::string& name) override {
    Fd folder = OpenJournalFolder(place, false);
    if (!folder.ok()) return;
    Io().UnlinkAt(folder.get(), name.c_str(), 0);
    Io().Sync(folder.get());
  }

 private:
  // The data file, opened here when the caller did not.
  int Data(int flags) {
    if (open_ >= 0) return open_;
    own_ = OpenPinned(s_, flags);
    return own_.get();
  }

  const State& s_;
  int open_;
  Fd own_;
};

JournaledFile JournaledFileOf(const State& s) {
  return JournaledFile{s.path, s.leaf, static_cast<std::uint64_t>(s.device),
                       static_cast<std::uint64_t>(s.inode)};
}

// Waits for this run's turn at the pinned file and holds it. The file may be replaced while this
// run waits (by the run whose turn it was): then the file that the name leads to now is pinned
// and waited for instead.
void TakeTurn(State& s, PinTurn turn) {
  const int operation = turn == PinTurn::kExclusive ? LOCK_EX : LOCK_SH;
  for (int attempt = 0; attempt < 64; ++attempt) {
    // Any open file can be locked: a file that this user may write but not read is one too.
    Fd file = OpenPinned(s, O_RDONLY, O_WRONLY);
    while (Io().Lock(file.get(), operation) != 0) {
      if (errno != EINTR) RaiseErrno(errno);
    }
    struct stat named;
    if (Io().StatAt(s.folder.get(), s.leaf.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
      RaiseErrno(errno);
    }
    if (SameFile(named, s)) {
      s.turn = std::move(file);
      return;
    }
    if (!S_ISREG(named.st_mode)) RaiseInOutError(kAccessDenied);
    s.device = named.st_dev;
    s.inode = named.st_ino;
  }
  RaiseInOutError(kAccessDenied);
}

}  // namespace

DataFilePin::DataFilePin(const std::string& name, PinTurn turn)
    : name_(name), state_(std::make_unique<State>()) {
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
  if (!s.regular) return;
  TakeTurn(s, turn);
  PosixJournalFiles files(s);
  RecoverFromJournal(files, JournaledFileOf(s));
}

DataFilePin::~DataFilePin() = default;

void DataFilePin::EndTurn() { state_->turn.Reset(); }

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
    if (s.exists && IsPermissionError(err)) {
      // The folder refuses new files: the file is rewritten in place, under a journal.
      Fd file = OpenPinned(s, O_RDWR);
      PosixJournalFiles files(s, file.get());
      RewriteUnderJournal(files, JournaledFileOf(s), bytes);
      s.turn.Reset();
      return;
    }
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
  // The turn was held on the old file: a run that waits for it goes on with the new one.
  s.turn.Reset();
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
