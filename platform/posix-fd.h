// A file descriptor that closes itself, and a complete positional write
// (POSIX builds only).
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string_view>

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  bool ok() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Closes now; false (with errno set) if the close reports an error, such as a write that did
  // not reach the file.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

// Writes all of `data` at `offset`; false with errno set when a write fails (ENOSPC when the
// file system takes no more bytes without saying why).
inline bool WriteAllAt(int fd, std::string_view data, std::uint64_t offset) {
  while (!data.empty()) {
    ssize_t n = pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}
