#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <sys/stat.h>
#include <cerrno>
#include <fstream>

#include "lib/Errors.h"
#include "platform/posix-error.h"
#include "platform/process.h"

namespace {

std::string* g_argv_line = nullptr;

bool NeedsQuotes(const std::string& arg) {
  if (arg.empty()) return true;
  for (unsigned char c : arg) {
    if ((c >= 1 && c <= 32) || c == '"') return true;
  }
  return false;
}

std::string QuoteArgument(const std::string& arg) {
  if (!NeedsQuotes(arg)) return arg;
  std::string quoted = "\"";
  for (char c : arg) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';
  return quoted;
}

std::string ReadArgs() {
  // /proc/self/cmdline holds argv as NUL-terminated strings.
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string line = QuoteArgument(ProgramFileName());
  std::size_t pos = all.find('\0');  // skip argv[0]
  while (pos != std::string::npos && pos + 1 < all.size()) {
    std::size_t end = all.find('\0', pos + 1);
    if (end == std::string::npos) end = all.size();
    line += ' ';
    line += QuoteArgument(all.substr(pos + 1, end - pos - 1));
    pos = end;
  }
  return line;
}

}  // namespace

int InOutCodeFromErrno(int err) {
  switch (err) {
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
      return kPathNotFound;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
      return kAccessDenied;
    default:
      return err;
  }
}

std::string ProcessCommandLine() {
  if (g_argv_line == nullptr) g_argv_line = new std::string(ReadArgs());
  return *g_argv_line;
}

std::string ProgramFileName() {
  std::string buffer(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", &buffer[0], buffer.size());
  if (n <= 0) return "keepxfer";
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

char PathSeparator() { return '/'; }

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

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
    if (n == 0) return EIO;
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

void InitProcess() {
  signal(SIGPIPE, SIG_IGN);
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
