#include "posix/io.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

PosixIo g_real;
PosixIo* g_io = &g_real;

}  // namespace

int PosixIo::OpenAt(int dir, const char* path, int flags, mode_t mode) {
  return openat(dir, path, flags, mode);
}
ssize_t PosixIo::Read(int fd, void* buffer, std::size_t size) { return read(fd, buffer, size); }
ssize_t PosixIo::PRead(int fd, void* buffer, std::size_t size, off_t offset) {
  return pread(fd, buffer, size, offset);
}
ssize_t PosixIo::Write(int fd, const void* data, std::size_t size) { return write(fd, data, size); }
ssize_t PosixIo::PWrite(int fd, const void* data, std::size_t size, off_t offset) {
  return pwrite(fd, data, size, offset);
}
int PosixIo::Sync(int fd) { return fsync(fd); }
int PosixIo::Truncate(int fd, off_t size) { return ftruncate(fd, size); }
int PosixIo::Allocate(int fd, off_t size) { return posix_fallocate(fd, 0, size); }
int PosixIo::ChangeMode(int fd, mode_t mode) { return fchmod(fd, mode); }
int PosixIo::ChangeOwner(int fd, uid_t owner, gid_t group) { return fchown(fd, owner, group); }
int PosixIo::Stat(int fd, struct stat* st) { return fstat(fd, st); }
int PosixIo::StatAt(int dir, const char* path, struct stat* st, int flags) {
  return fstatat(dir, path, st, flags);
}
int PosixIo::RenameAt(int from_dir, const char* from, int to_dir, const char* to) {
  return renameat(from_dir, from, to_dir, to);
}
int PosixIo::UnlinkAt(int dir, const char* path, int flags) { return unlinkat(dir, path, flags); }
int PosixIo::MakeDirAt(int dir, const char* path, mode_t mode) { return mkdirat(dir, path, mode); }
int PosixIo::Lock(int fd, int operation) { return flock(fd, operation); }
int PosixIo::Duplicate(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 0); }
int PosixIo::Close(int fd) { return close(fd); }

PosixIo& Io() { return *g_io; }

ScopedIo::ScopedIo(PosixIo* io) : previous_(g_io) { g_io = io; }
ScopedIo::~ScopedIo() { g_io = previous_; }
