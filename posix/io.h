// The system calls of the POSIX file layers, behind one interface. The real calls are the
// default; a test installs a fake that fails any call, or stops the process, at an exact point
// of a save or an INI write (POSIX builds only).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

class PosixIo {
 public:
  virtual ~PosixIo() = default;

  // Each returns what the system call returns and sets errno as it does; Allocate returns the
  // error number as posix_fallocate does.
  virtual int OpenAt(int dir, const char* path, int flags, mode_t mode);
  virtual ssize_t Read(int fd, void* buffer, std::size_t size);
  virtual ssize_t PRead(int fd, void* buffer, std::size_t size, off_t offset);
  virtual ssize_t Write(int fd, const void* data, std::size_t size);
  virtual ssize_t PWrite(int fd, const void* data, std::size_t size, off_t offset);
  virtual int Sync(int fd);
  virtual int Truncate(int fd, off_t size);
  virtual int Allocate(int fd, off_t size);
  virtual int ChangeMode(int fd, mode_t mode);
  virtual int ChangeOwner(int fd, uid_t owner, gid_t group);
  virtual int Stat(int fd, struct stat* st);
  virtual int StatAt(int dir, const char* path, struct stat* st, int flags);
  virtual int RenameAt(int from_dir, const char* from, int to_dir, const char* to);
  virtual int UnlinkAt(int dir, const char* path, int flags);
  virtual int MakeDirAt(int dir, const char* path, mode_t mode);
  virtual int Lock(int fd, int operation);
  virtual int Duplicate(int fd);
  virtual int Close(int fd);
};

// The calls in use.
PosixIo& Io();

// Puts `io` in place of the calls in use while it lives (tests).
class ScopedIo {
 public:
  explicit ScopedIo(PosixIo* io);
  ~ScopedIo();
  ScopedIo(const ScopedIo&) = delete;
  ScopedIo& operator=(const ScopedIo&) = delete;

 private:
  PosixIo* previous_;
};
