// Places a fault at an exact system call of the real program, loaded with LD_PRELOAD:
//
//   KX_FAULT=<call>:<nth>:<action>[:<path part>]
//
// <call> is one of openat, pread, write, pwrite, fsync, renameat, ftruncate, fcntl, or several of
// them joined by "+"; the nth call (from 1) whose file (for descriptors, what /proc/self/fd shows)
// contains <path part> gets <action>:
//   kill, term, int, hup  the process gets SIGKILL, SIGTERM, SIGINT or SIGHUP before the call;
//   tear                  a write does half of its bytes, then the process gets SIGKILL;
//   pause                 the process writes one byte to $KX_FAULT_DIR/reached and waits for
//                         one from $KX_FAULT_DIR/resume, so that the test acts at that moment;
//   fail=<errno>          the call fails with that errno value;
//   delay=<microseconds>  the call waits that long first, then goes on;
//   breaklease            (fcntl only: the calls that let a write lease go) another process opens
//                         the file while the lease is still held, which breaks it; the call goes
//                         on once the kernel shows the lease as breaking.
// An <nth> of 0 means every such call (for delay: a program slowed down as a slow machine or
// the sanitizers would slow it).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

char g_call[32], g_action[32], g_part[512];
long g_nth = -1, g_seen;

void Configure(void) {
  static int done;
  if (done) return;
  done = 1;
  const char* fault = getenv("KX_FAULT");
  if (fault == nullptr) return;
  char copy[600];
  snprintf(copy, sizeof copy, "%s", fault);
  char* fields[4] = {nullptr, nullptr, nullptr, nullptr};
  char* rest = copy;
  for (int i = 0; i < 4 && rest != nullptr; ++i) {
    fields[i] = rest;
    rest = i < 3 ? strchr(rest, ':') : nullptr;
    if (rest != nullptr) *rest++ = '\0';
  }
  if (fields[2] == nullptr) return;
  snprintf(g_call, sizeof g_call, "%s", fields[0]);
  g_nth = atol(fields[1]);
  snprintf(g_action, sizeof g_action, "%s", fields[2]);
  snprintf(g_part, sizeof g_part, "%s", fields[3] != nullptr ? fields[3] : "");
}

void PathOfFd(int fd, char* out, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, out, size - 1);
  out[n > 0 ? n : 0] = '\0';
}

void Handshake(void) {
  const char* dir = getenv("KX_FAULT_DIR");
  char path[600];
  char byte = 1;
  snprintf(path, sizeof path, "%s/reached", dir ? dir : ".");
  int out = open(path, O_WRONLY);
  if (out >= 0) {
    if (write(out, &byte, 1) != 1) _exit(97);
    close(out);
  }
  snprintf(path, sizeof path, "%s/resume", dir ? dir : ".");
  int in = open(path, O_RDONLY);
  if (in >= 0) {
    if (read(in, &byte, 1) != 1) _exit(98);
    close(in);
  }
}

// Whether `call` is one of the calls that the fault names.
bool Named(const char* call) {
  const size_t length = strlen(call);
  for (const char* at = strstr(g_call, call); at != nullptr; at = strstr(at + 1, call)) {
    if ((at == g_call || at[-1] == '+') && (at[length] == '\0' || at[length] == '+')) return true;
  }
  return false;
}

/* 0: go on with the call; 1: fail it (errno set); 2: tear the write. */
int Hit(const char* call, const char* path) {
  Configure();
  if (g_nth < 0 || !Named(call) || strstr(path, g_part) == nullptr) return 0;
  if (++g_seen != g_nth && g_nth != 0) return 0;
  if (strncmp(g_action, "delay=", 6) == 0) {
    long us = atol(g_action + 6);
    struct timespec pause = {us / 1000000, (us % 1000000) * 1000};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
    return 0;
  }
  if (strcmp(g_action, "kill") == 0) raise(SIGKILL);
  if (strcmp(g_action, "term") == 0) raise(SIGTERM);
  if (strcmp(g_action, "int") == 0) raise(SIGINT);
  if (strcmp(g_action, "hup") == 0) raise(SIGHUP);
  if (strcmp(g_action, "pause") == 0) Handshake();
  if (strcmp(g_action, "tear") == 0) return 2;
  if (strcmp(g_action, "breaklease") == 0) return 3;
  if (strncmp(g_action, "fail=", 5) == 0) {
    errno = atoi(g_action + 5);
    return 1;
  }
  return 0;
}

template <typename F>
F Real(F, const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
#define REAL(name) Real(&name, #name)

}  // namespace

extern "C" {
ssize_t pread(int fd, void* buffer, size_t size, off_t offset);
ssize_t write(int fd, const void* data, size_t size);
ssize_t pwrite(int fd, const void* data, size_t size, off_t offset);
}

namespace {

ssize_t Tear(int fd, const void* data, size_t size, off_t offset, int positional) {
  size_t half = size / 2;
  if (positional) {
    if (Real(&pwrite, "pwrite")(fd, data, half, offset) < 0) _exit(96);
  } else {
    if (Real(&write, "write")(fd, data, half) < 0) _exit(96);
  }
  raise(SIGKILL);
  return -1;
}

// Another process opens the file `fd` of this one, which holds a write lease on it: the open
// waits until the lease goes, and the kernel asks this process to let it go (SIGIO). Answers the
// opener once /proc/locks shows the lease breaking (10 s at most).
pid_t BreakLease(int fd) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/fd/%d", static_cast<int>(getpid()), fd);
  const pid_t opener = fork();
  if (opener == 0) _exit(open(path, O_RDONLY) >= 0 ? 0 : 1);
  for (int tries = 0; opener > 0 && tries < 10000; ++tries) {
    char locks[8192];
    const int in = open("/proc/locks", O_RDONLY);
    const ssize_t got = in >= 0 ? read(in, locks, sizeof locks - 1) : -1;
    if (in >= 0) close(in);
    locks[got > 0 ? got : 0] = '\0';
    if (strstr(locks, "BREAKING") != nullptr) break;
    usleep(1000);
  }
  return opener;
}

int Fcntl(const char* name, int fd, int command, void* argument) {
  using Call = int (*)(int, int, ...);
  const Call real = reinterpret_cast<Call>(dlsym(RTLD_NEXT, name));
  pid_t opener = -1;
  if (command == F_SETLEASE && reinterpret_cast<long>(argument) == F_UNLCK) {
    char path[512];
    PathOfFd(fd, path, sizeof path);
    if (Hit("fcntl", path) == 3) opener = BreakLease(fd);
  }
  const int result = real(fd, command, argument);
  const int saved = errno;
  if (opener > 0) waitpid(opener, nullptr, 0);
  errno = saved;
  return result;
}

}  // namespace

extern "C" {

int fcntl(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  void* argument = va_arg(args, void*);
  va_end(args);
  return Fcntl("fcntl", fd, command, argument);
}

int fcntl64(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  void* argument = va_arg(args, void*);
  va_end(args);
  return Fcntl("fcntl64", fd, command, argument);
}

int openat(int dir, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, mode_t);
    va_end(args);
  }
  if (Hit("openat", path) == 1) return -1;
  return REAL(openat)(dir, path, flags, mode);
}

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  char path[512];
  PathOfFd(fd, path, sizeof path);
  if (Hit("pread", path) == 1) return -1;
  return REAL(pread)(fd, buffer, size, offset);
}

ssize_t pread64(int fd, void* buffer, size_t size, off_t offset) {
  return pread(fd, buffer, size, offset);
}

ssize_t write(int fd, const void* data, size_t size) {
  char path[512];
  PathOfFd(fd, path, sizeof path);
  int hit = Hit("write", path);
  if (hit == 1) return -1;
  if (hit == 2) return Tear(fd, data, size, 0, 0);
  return REAL(write)(fd, data, size);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  char path[512];
  PathOfFd(fd, path, sizeof path);
  int hit = Hit("pwrite", path);
  if (hit == 1) return -1;
  if (hit == 2) return Tear(fd, data, size, offset, 1);
  return REAL(pwrite)(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) {
  return pwrite(fd, data, size, offset);
}

int fsync(int fd) {
  char path[512];
  PathOfFd(fd, path, sizeof path);
  if (Hit("fsync", path) == 1) return -1;
  return REAL(fsync)(fd);
}

int ftruncate(int fd, off_t size) {
  char path[512];
  PathOfFd(fd, path, sizeof path);
  if (Hit("ftruncate", path) == 1) return -1;
  return REAL(ftruncate)(fd, size);
}

int renameat(int from_dir, const char* from, int to_dir, const char* to) {
  char both[1100];
  snprintf(both, sizeof both, "%s > %s", from, to);
  if (Hit("renameat", both) == 1) return -1;
  return REAL(renameat)(from_dir, from, to_dir, to);
}

}  // extern "C"
