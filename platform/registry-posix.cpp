// The current user's registry on a POSIX system: the user.reg file of the Wine
// prefix in which the product runs. wineserver writes that file back from
// memory about every 30 seconds and when it exits, so a change made in a
// running prefix shows here only after that.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/registry.h"
#include "platform/wine-paths.h"
#include "platform/wine-registry.h"

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The whole content of the regular file `path`; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* text) {
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return false;
  struct stat st;
  if (fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  text->clear();
  char buffer[65536];
  for (;;) {
    ssize_t count = read(file.get(), buffer, sizeof buffer);
    if (count == 0) return true;
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text->append(buffer, static_cast<size_t>(count));
  }
}

}  // namespace

RegValue ReadUserRegValue(const std::string& keyPath, const std::string& valueName) {
  const std::string prefix = WinePrefix();
  std::string text;
  if (prefix.empty() || !ReadWholeFile(prefix + "/user.reg", &text)) return RegValue();
  return FindWineRegValue(text, keyPath, valueName);
}
