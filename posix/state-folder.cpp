#include "posix/state-folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "posix/home.h"
#include "posix/path.h"

namespace {

// $XDG_STATE_HOME/keepxfer, or ~/.local/state/keepxfer. Empty when no home is known.
std::string StateFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/keepxfer";
  const std::string home = HomeFolder();
  return home.empty() ? "" : home + "/.local/state/keepxfer";
}

// keepxfer-<uid> in $TMPDIR when that is an absolute path, else in /tmp.
std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp != nullptr && tmp[0] == '/' ? StripTrailingSlashes(tmp) : "/tmp";
  return (base == "/" ? "" : base) + "/keepxfer-" + std::to_string(geteuid());
}

// The state folder, made (with its parents, private to the user) when `make` is set.
Fd OpenStateFolder(bool make) {
  std::string path = StateFolder();
  if (path.empty()) {
    errno = ENOENT;
    return Fd();
  }
  if (make) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
      std::string part = path.substr(0, slash);
      if (Io().MakeDirAt(AT_FDCWD, part.c_str(), 0700) != 0 && errno != EEXIST) return Fd();
      if (slash == std::string::npos) break;
    }
  }
  return Fd(Io().OpenAt(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
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

// The folder in the temporary folder, made (mode 0700) when `make` is set. Every user may make
// names in the temporary folder, so a folder of that name that another user could have put there,
// or could write into, is refused.
Fd OpenTemporaryFolder(bool make) {
  const std::string path = TemporaryFolder();
  if (make && Io().MakeDirAt(AT_FDCWD, path.c_str(), 0700) != 0 && errno != EEXIST) return Fd();
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

}  // namespace

Fd OpenStateFolder(StatePlace place, const std::string& sub, bool make) {
  Fd folder = place == StatePlace::kStateFolder ? OpenStateFolder(make) : OpenTemporaryFolder(make);
  if (!folder.ok() || sub.empty()) return folder;
  if (make && Io().MakeDirAt(folder.get(), sub.c_str(), 0700) != 0 && errno != EEXIST) {
    return Fd();
  }
  return Fd(
      Io().OpenAt(folder.get(), sub.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0));
}

std::string StateFolderPath(StatePlace place, const std::string& sub) {
  std::string path = place == StatePlace::kStateFolder ? StateFolder() : TemporaryFolder();
  return sub.empty() || path.empty() ? path : path + "/" + sub;
}
