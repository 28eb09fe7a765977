// A file descriptor that closes itself, and the complete read and write loops of the POSIX
// file layers (POSIX builds only). All of them go through Io(), so that tests can fail them.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "posix/io.h"

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) Io().Close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset(other.fd_);
      other.fd_ = -1;
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  bool ok() const { return fd_ >= 0; }
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) Io().Close(fd_);
    fd_ = fd;
  }
  // Gives the descriptor up: it stays open, and this no longer owns it.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now; false (with errno set) if the close reports an error, such as a write that did
  // not reach the file.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return Io().Close(fd) == 0;
  }

 private:
  int fd_;
};

// Writes all of `data` at `offset`, or at the end of a file opened for appending when `offset`
// is negative; false with errno set when a write fails (ENOSPC when the file system takes no
// more bytes without saying why). *written, when given, counts the bytes that did go out.
inline bool WriteAllAt(int fd, std::string_view data, std::int64_t offset,
                       std::size_t* written = nullptr) {
  std::size_t done = 0;
  while (done < data.size()) {
    const char* from = data.data() + done;
    std::size_t size = data.size() - done;
    ssize_t n = offset < 0 ? Io().Write(fd, from, size)
                           : Io().PWrite(fd, from, size, static_cast<off_t>(offset) + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      if (written != nullptr) *written = done;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (written != nullptr) *written = done;
  return true;
}

// Reads until `size` bytes are in or the file ends; the count read, or -1 with errno set.
inline std::int64_t ReadFully(int fd, char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = Io().Read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

// Reads `size` bytes at `offset` into *bytes; false when the file holds fewer or cannot be read.
inline bool ReadAt(int fd, std::uint64_t offset, std::uint64_t size, std::string* bytes) {
  bytes->resize(static_cast<std::size_t>(size));
  std::size_t done = 0;
  while (done < bytes->size()) {
    ssize_t n =
        Io().PRead(fd, &(*bytes)[done], bytes->size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes->resize(done);
  return done == size;
}

// The whole file into *bytes, as large as it is now; false when it cannot be read.
inline bool ReadWhole(int fd, std::string* bytes) {
  struct stat st;
  if (Io().Stat(fd, &st) != 0) return false;
  ReadAt(fd, 0, static_cast<std::uint64_t>(st.st_size), bytes);
  return true;
}
