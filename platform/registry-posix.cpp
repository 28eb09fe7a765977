// The current user's registry on a POSIX system: the user.reg file of the Wine
// prefix in which the product runs. wineserver writes that file back from
// memory about every 30 seconds and when it exits, so a change made in a
// running prefix shows here only after that.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "posix/fd.h"
#include "wine/paths.h"
#include "wine/registry.h"

namespace {

// The whole content of the regular file `path`; false when it cannot be read. It is opened
// without blocking, so that a named pipe or a device in its place cannot hang the run.
bool ReadHive(const std::string& path, std::string* text) {
  Fd file(Io().OpenAt(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0));
  struct stat st;
  if (!file.ok() || Io().Stat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  text->clear();
  char buffer[65536];
  for (;;) {
    std::int64_t count = ReadFully(file.get(), buffer, sizeof buffer);
    if (count < 0) return false;
    text->append(buffer, static_cast<std::size_t>(count));
    if (count < static_cast<std::int64_t>(sizeof buffer)) return true;
  }
}

}  // namespace

RegValue ReadUserRegValue(const std::string& keyPath, const std::string& valueName) {
  const std::string prefix = WinePrefix();
  std::string text;
  if (prefix.empty() || !ReadHive(prefix + "/user.reg", &text)) return RegValue();
  return FindWineRegValue(text, keyPath, valueName);
}
