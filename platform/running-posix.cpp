// Running programs on POSIX: the Wine processes of this user, from /proc. A Wine process's
// command line begins with the program it runs, as it was started: a Windows path
// ("C:\Program Files\Framekeep\Framekeep.exe"), or a path of this system; its environment names
// its prefix.
#include "platform/running.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "posix/fd.h"
#include "posix/home.h"
#include "posix/path.h"
#include "wine/paths.h"

namespace {

// The file `path` whole (a /proc file has no size to go by); empty when it cannot be read.
std::string ReadProcFile(const std::string& path) {
  Fd fd(Io().OpenAt(AT_FDCWD, path.c_str(), O_RDONLY | O_CLOEXEC, 0));
  std::string text;
  if (!fd.ok()) return text;
  char buffer[4096];
  for (;;) {
    std::int64_t n = ReadFully(fd.get(), buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (n < static_cast<std::int64_t>(sizeof buffer)) break;
  }
  return text;
}

std::string ReadLink(const std::string& path) {
  char buffer[4096];
  ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// A value of a NUL-separated environment block.
std::string EnvironmentValue(const std::string& block, const std::string& name) {
  std::size_t pos = 0;
  while (pos < block.size()) {
    std::size_t end = block.find('\0', pos);
    if (end == std::string::npos) end = block.size();
    if (block.compare(pos, name.size() + 1, name + "=") == 0) {
      return block.substr(pos + name.size() + 1, end - pos - name.size() - 1);
    }
    pos = end + 1;
  }
  return "";
}

// The prefix of a Wine process, as Wine finds it: WINEPREFIX, else ~/.wine.
std::string PrefixOf(const std::string& environment, uid_t owner) {
  std::string prefix = EnvironmentValue(environment, "WINEPREFIX");
  if (prefix.empty()) {
    std::string home = HomeFolderOf(EnvironmentValue(environment, "HOME"), owner);
    if (home.empty()) return "";
    prefix = StripTrailingSlashes(home) + "/.wine";
  }
  return RealPath(StripTrailingSlashes(prefix));
}

bool IsWindowsPath(const std::string& path) {
  return (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
         path.compare(0, 2, "\\\\") == 0;
}

std::string FolderOf(const std::string& path) {
  std::size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

bool IsProgramRunningFrom(const std::string& folder) {
  const std::string prefix = RealPath(WinePrefix());
  // The same folder as this system names it, for programs started by a path of this system.
  ResolvedPath resolved = ResolveProductPath(folder);
  const std::string folder_path = resolved.error == 0 ? RealPath(resolved.path) : std::string();

  DIR* processes = opendir("/proc");
  if (processes == nullptr) return false;
  bool running = false;
  const std::string self = std::to_string(getpid());
  while (const dirent* entry = readdir(processes)) {
    const std::string pid = entry->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self) {
      continue;
    }
    const std::string base = "/proc/" + pid;
    struct stat st;
    if (stat(base.c_str(), &st) != 0 || st.st_uid != getuid()) continue;
    // Only Wine's loader runs Windows programs.
    std::string loader = ReadLink(base + "/exe");
    loader = loader.substr(loader.rfind('/') + 1);
    if (loader.compare(0, 4, "wine") != 0) continue;
    std::string command = ReadProcFile(base + "/cmdline");
    std::string program = command.substr(0, command.find('\0'));
    if (program.empty() || PrefixOf(ReadProcFile(base + "/environ"), st.st_uid) != prefix) {
      continue;
    }
    if (IsWindowsPath(program)) {
      running = IsDirectlyInFolder(program, folder);
    } else if (!folder_path.empty()) {
      if (program[0] != '/') program = ReadLink(base + "/cwd") + "/" + program;
      running = FolderOf(RealPath(program)) == folder_path;
    }
    if (running) break;
  }
  closedir(processes);
  return running;
}
