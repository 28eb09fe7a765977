// The data file on POSIX systems: found through the Wine prefix, pinned by its folder's
// descriptor and its device and inode, and replaced through that folder.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/Errors.h"
#include "platform/journal.h"
#include "platform/replace-posix.h"
#include "platform/replace.h"
#include "platform/turn.h"
#include "posix/error.h"
#include "posix/fd.h"
#include "posix/path.h"
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
// `or_flags`, an open that the file's permissions refuse is tried again with those. 0, or the code.
int TryOpenPinned(const State& s, int flags, Fd* file, int or_flags = -1) {
  if (!s.exists) return kFileNotFound;
  struct stat identity;
  identity.st_dev = s.device;
  identity.st_ino = s.inode;
  const int code = OpenIdentified(s.folder.get(), s.leaf, identity, flags, file);
  if (code == kAccessDenied && or_flags >= 0 && errno == EACCES) {
    return TryOpenPinned(s, or_flags, file);
  }
  return code;
}

Fd OpenPinned(const State& s, int flags) {
  Fd file;
  if (int code = TryOpenPinned(s, flags, &file)) RaiseInOutError(code);
  return file;
}

// The pinned file's opens for its journal.
OpenOldFile OpensOf(const State& s) {
  return [&s](int flags, Fd* file) { return TryOpenPinned(s, flags, file); };
}

JournaledFile JournaledFileOf(const State& s) {
  return JournaledFile{s.path, s.leaf, static_cast<std::uint64_t>(s.device),
                       static_cast<std::uint64_t>(s.inode)};
}

// The turn at the pinned file. The file may be replaced while this run waits (by the run whose
// turn it was): then the file that the name leads to now is pinned and waited for instead.
class PinTurnFiles : public TurnFiles {
 public:
  explicit PinTurnFiles(State& s) : s_(s) {}

  int Open() override {
    if (code_ != 0) return code_;
    // Any open file can be locked: a file that this user may write but not read is one too.
    return TryOpenPinned(s_, O_RDONLY, &s_.turn, O_WRONLY);
  }
  int Lock(bool exclusive) override {
    while (Io().Lock(s_.turn.get(), exclusive ? LOCK_EX : LOCK_SH) != 0) {
      if (errno != EINTR) return InOutCodeFromErrno(errno);
    }
    return 0;
  }
  bool NameLeadsToOpen() override {
    struct stat named;
    if (Io().StatAt(s_.folder.get(), s_.leaf.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
      code_ = InOutCodeFromErrno(errno);
      return false;
    }
    if (SameFile(named, s_)) return true;
    if (!S_ISREG(named.st_mode)) code_ = kAccessDenied;
    s_.device = named.st_dev;
    s_.inode = named.st_ino;
    return false;
  }
  void Close() override { s_.turn.Reset(); }

 private:
  State& s_;
  int code_ = 0;  // what the name leads to now cannot be pinned
};

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
  PinTurnFiles turns(s);
  if (int code = TakeTurn(turns, turn == PinTurn::kExclusive)) RaiseInOutError(code);
  PosixJournalFiles files(OpensOf(s));
  if (int code = RecoverFromJournal(files, JournaledFileOf(s))) RaiseInOutError(code);
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
  PosixOldFile old;
  old.exists = s.exists;
  Fd writable;
  if (s.exists && Io().Stat((writable = OpenPinned(s, O_WRONLY)).get(), &old.read_as) != 0) {
    RaiseErrno(errno);
  }
  PosixReplace files(s.folder.get(), s.leaf, s.path, old, OpensOf(s));
  const int code = ReplaceWhole(files, bytes);
  // The turn was held on the old file: a run that waits for it goes on with the new one.
  s.turn.Reset();
  if (code == kFileChanged) RaiseInOutError(kAccessDenied);
  if (code != 0) RaiseInOutError(code);
  struct stat fresh;
  if (files.NewFile() >= 0 && Io().Stat(files.NewFile(), &fresh) == 0) {
    s.exists = s.regular = true;
    s.device = fresh.st_dev;
    s.inode = fresh.st_ino;
  }
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

// Wine keeps no VirtualStore: the product writes its files where they are.
std::string DataFileInUse(const std::string& dataFileName) { return dataFileName; }

bool PinnedFileExists(const DataFilePin& pin) { return pin.state().exists; }

bool FileStartsWith(const std::string& path, std::string_view start) {
  // Without waiting for a writer, should the name be a pipe's.
  Fd file(Io().OpenAt(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0));
  struct stat st;
  std::string bytes;
  return file.ok() && Io().Stat(file.get(), &st) == 0 && S_ISREG(st.st_mode) &&
         ReadAt(file.get(), 0, start.size(), &bytes) && bytes == start;
}
