#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "base/Errors.h"
#include "platform/files.h"
#include "platform/posix-error.h"
#include "platform/posix-fd.h"
#include "platform/wine-paths.h"

namespace {

// The POSIX path of an existing data file, or the raise for its absence.
std::string ExistingPath(const std::string& name) {
  ResolvedPath resolved = ResolveProductPath(name);
  if (resolved.error != 0) RaiseInOutError(resolved.error);
  return resolved.path;
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows symbolic links so that the file they point to is replaced.
std::string FinalTarget(const std::string& path) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer) != nullptr) return buffer;
  return path;
}

bool IsPermissionError(int err) { return err == EACCES || err == EPERM || err == EROFS; }

// Rewrites the file in place: space is reserved first, so a full disk fails
// before the old contents are touched.
void RewriteInPlace(const std::string& path, const std::string& bytes) {
  Fd fd(Io().OpenAt(AT_FDCWD, path.c_str(), O_WRONLY | O_CLOEXEC, 0));
  if (!fd.ok()) RaiseErrno(errno);
  if (!bytes.empty()) {
    int err = Io().Allocate(fd.get(), static_cast<off_t>(bytes.size()));
    if (err != 0 && err != EOPNOTSUPP && err != EINVAL) RaiseErrno(err);
  }
  if (!WriteAllAt(fd.get(), bytes, 0) ||
      Io().Truncate(fd.get(), static_cast<off_t>(bytes.size())) != 0 || Io().Sync(fd.get()) != 0 ||
      !fd.Close()) {
    RaiseErrno(errno);
  }
}

}  // namespace

DataFile::DataFile(const std::string& name, FileAccess access) {
  std::string path = ExistingPath(name);
  int flags = (access == FileAccess::kRead ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_CLOEXEC;
  Fd fd(Io().OpenAt(AT_FDCWD, path.c_str(), flags, 0));
  if (!fd.ok()) {
    if (errno == EISDIR) RaiseInOutError(kAccessDenied);
    RaiseErrno(errno);
  }
  // Only a regular file is a data file: a directory, a named pipe or a device is refused before
  // anything is read from it.
  struct stat st;
  if (Io().Stat(fd.get(), &st) != 0) RaiseErrno(errno);
  if (!S_ISREG(st.st_mode)) RaiseInOutError(kAccessDenied);
  handle_ = fd.Release();
}

DataFile::~DataFile() {
  if (handle_ >= 0) Io().Close(static_cast<int>(handle_));
}

std::size_t DataFile::Read(void* buffer, std::size_t size) {
  std::int64_t done = ReadFully(static_cast<int>(handle_), static_cast<char*>(buffer), size);
  if (done < 0) RaiseErrno(errno);
  return static_cast<std::size_t>(done);
}

void ReplaceDataFile(const std::string& name, const std::string& bytes) {
  ResolvedPath resolved = ResolveProductPath(name);
  if (resolved.error != 0 && resolved.error != kFileNotFound) RaiseInOutError(resolved.error);
  std::string path = FinalTarget(resolved.path);

  struct stat old;
  bool had_old = stat(path.c_str(), &old) == 0;
  if (had_old && S_ISDIR(old.st_mode)) RaiseInOutError(kAccessDenied);
  if (had_old) {
    // The old file must be writable by this user, as it would be for an
    // in-place rewrite.
    if (access(path.c_str(), W_OK) != 0) RaiseErrno(errno);
  }

  std::string temp = DirectoryOf(path) + "/.Targets.DAT.XXXXXX";
  std::vector<char> temp_name(temp.begin(), temp.end());
  temp_name.push_back('\0');
  Fd fd(mkstemp(temp_name.data()));
  if (!fd.ok()) {
    int err = errno;
    if (had_old && IsPermissionError(err)) {
      RewriteInPlace(path, bytes);
      return;
    }
    RaiseErrno(err);
  }
  temp.assign(temp_name.data());

  int err = WriteAllAt(fd.get(), bytes, 0) ? 0 : errno;
  if (err == 0 && had_old) {
    if (Io().ChangeMode(fd.get(), old.st_mode & 07777) != 0) err = errno;
    // Only a privileged user may give the file away; others keep their own.
    if (err == 0 && Io().ChangeOwner(fd.get(), old.st_uid, old.st_gid) != 0 && errno != EPERM) {
      err = errno;
    }
  } else if (err == 0) {
    mode_t mask = umask(0);
    umask(mask);
    if (Io().ChangeMode(fd.get(), 0666 & ~mask) != 0) err = errno;
  }
  if (err == 0 && Io().Sync(fd.get()) != 0) err = errno;
  if (err == 0 && !fd.Close()) err = errno;
  if (err == 0 && Io().RenameAt(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str()) != 0) err = errno;
  if (err != 0) {
    Io().UnlinkAt(AT_FDCWD, temp.c_str(), 0);
    RaiseErrno(err);
  }
  Fd dir(Io().OpenAt(AT_FDCWD, DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (dir.ok()) Io().Sync(dir.get());
}

bool IsExistingFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}
