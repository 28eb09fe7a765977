#include "platform/process.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/Errors.h"
#include "platform/command-line.h"
#include "posix/error.h"
#include "posix/temp-file.h"

namespace {

// The arguments main received, program name first.
std::vector<std::string> g_args;

}  // namespace

std::string ProcessCommandLine() {
  // The program's own path stands first, as on Windows; then the arguments as given.
  std::vector<std::string> items = g_args;
  if (items.empty()) items.emplace_back();
  items[0] = ProgramFileNameForReport();
  return JoinArguments(items);
}

std::string ProgramFileName() {
  std::string buffer(4096, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", &buffer[0], buffer.size());
    if (n < 0) {
      RaiseError(kInOutError, "The program's own path cannot be read from /proc/self/exe (" +
                                  InOutMessage(InOutCodeFromErrno(errno)) + ")");
    }
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string ProgramFileNameForReport() {
  try {
    return ProgramFileName();
  } catch (const ToolError&) {
    return g_args.empty() || g_args[0].empty() ? "keepxfer" : g_args[0];
  }
}

char PathSeparator() { return '/'; }

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string WhyNoFileName(const std::string&) { return ""; }

bool StdoutIsConsole() {
  struct stat st;
  return fstat(STDOUT_FILENO, &st) == 0 && S_ISCHR(st.st_mode);
}

int WriteStdout(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return InOutCodeFromErrno(errno);
    }
    if (n == 0) return PlainIoError(EIO);
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

void WriteStderrReport(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(STDERR_FILENO, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

std::uintptr_t ModuleOffset(std::uintptr_t address) {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(address), &info) != 0 && info.dli_fbase != nullptr) {
    return address - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  }
  return address;
}

void InitProcess(int argc, char** argv) {
  g_args.assign(argv, argv + argc);
  // A closed pipe, and a file-size limit, make writes fail instead of ending the run, so that
  // a broken-off write is undone and reported.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  InstallTempFileCleanup();
  // A standard stream that was closed keeps its slot, opened for reading
  // only: files the tool opens later cannot land there, and writes to it
  // still fail.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      int reserved = open("/dev/null", O_RDONLY);
      if (reserved >= 0 && reserved != fd) close(reserved);
    }
  }
}
