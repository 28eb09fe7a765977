#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "lib/Errors.h"
#include "platform/files.h"
#include "platform/posix-error.h"
#include "platform/posix-fd.h"
#include "platform/wine-paths.h"

namespace {

[[noreturn]] void RaiseErrno(int err) { RaiseInOutError(InOutCodeFromErrno(err)); }

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
  Fd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (!fd.ok()) RaiseErrno(errno);
  if (!bytes.empty()) {
    int err = posix_fallocate(fd.get(), 0, static_cast<off_t>(bytes.size()));
    if (err != 0 && err != EOPNOTSUPP && err != EINVAL) RaiseErrno(err);
  }
  if (!WriteAllAt(fd.get(), bytes, 0) ||
      ftruncate(fd.get(), static_cast<off_t>(bytes.size())) != 0 || fsync(fd.get()) != 0 ||
      !fd.Close()) {
    RaiseErrno(errno);
  }
}

}  // namespace

DataFile::DataFile(const std::string& name, FileAccess access) : handle_(-1) {
  std::string path = ExistingPath(name);
  int flags = (access == FileAccess::kRead ? O_RDONLY : O_RDWR) | O_CLOEXEC;
  int fd = open(path.c_str(), flags);
  if (fd < 0) {
    if (errno == EISDIR) RaiseInOutError(kAccessDenied);
    RaiseErrno(errno);
  }
  handle_ = fd;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) RaiseInOutError(kAccessDenied);
}

DataFile::~DataFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

std::size_t DataFile::Read(void* buffer, std::size_t size) {
  char* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = read(static_cast<int>(handle_), out + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseErrno(errno);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
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
    if (fchmod(fd.get(), old.st_mode & 07777) != 0) err = errno;
    // Only a privileged user may give the file away; others keep their own.
    if (err == 0 && fchown(fd.get(), old.st_uid, old.st_gid) != 0 && errno != EPERM) err = errno;
  } else if (err == 0) {
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd.get(), 0666 & ~mask) != 0) err = errno;
  }
  if (err == 0 && fsync(fd.get()) != 0) err = errno;
  if (err == 0 && !fd.Close()) err = errno;
  if (err == 0 && rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    unlink(temp.c_str());
    RaiseErrno(err);
  }
  Fd dir(open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.ok()) fsync(dir.get());
}

bool IsExistingFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}
