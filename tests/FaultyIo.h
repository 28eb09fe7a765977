// A fake for the POSIX file layers' system calls: every call goes through to the system, is
// logged with the path it concerns, and a rule can make the nth matching call fail with an
// errno value, or run an action first (stop the process, or change a file as another program
// would at that exact moment).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "posix/io.h"

class FaultyIo : public PosixIo {
 public:
  enum Call {
    kOpen,
    kRead,
    kPRead,
    kWrite,
    kPWrite,
    kSync,
    kTruncate,
    kAllocate,
    kChmod,
    kChown,
    kStat,
    kStatAt,
    kRename,
    kUnlink,
    kMakeDir,
    kLock,
    kClose,
  };

  struct Rule {
    Call call;
    std::string path_part;         // the call's path must contain it ("" for any)
    int nth = 1;                   // the nth such call, counting from 1
    int error = 0;                 // errno of the failure, or 0 to let the call through
    std::function<void()> before;  // runs first, if given
    int seen = 0;
  };

  // The nth call of `call` on a path that contains `path_part` fails with `error`.
  void FailAt(Call call, const std::string& path_part, int nth, int error) {
    rules_.push_back(Rule{call, path_part, nth, error, nullptr});
  }
  // The nth call of `call` on a path that contains `path_part` runs `action` first.
  void Before(Call call, const std::string& path_part, int nth, std::function<void()> action) {
    rules_.push_back(Rule{call, path_part, nth, 0, std::move(action)});
  }

  // "<call> <path>" for every call, in order; a rename logs "rename <from> > <to>".
  const std::vector<std::string>& log() const { return log_; }
  // How many calls of `call` concerned a path containing `path_part`.
  int Count(Call call, const std::string& path_part) const {
    int count = 0;
    for (const auto& entry : calls_) {
      if (entry.first == call && entry.second.find(path_part) != std::string::npos) ++count;
    }
    return count;
  }

  int OpenAt(int dir, const char* path, int flags, mode_t mode) override {
    std::string name = Join(dir, path);
    if (Fails(kOpen, name)) return -1;
    int fd = PosixIo::OpenAt(dir, path, flags, mode);
    if (fd >= 0) names_[fd] = name;
    return fd;
  }
  ssize_t Read(int fd, void* buffer, std::size_t size) override {
    return Fails(kRead, Name(fd)) ? -1 : PosixIo::Read(fd, buffer, size);
  }
  ssize_t PRead(int fd, void* buffer, std::size_t size, off_t offset) override {
    return Fails(kPRead, Name(fd)) ? -1 : PosixIo::PRead(fd, buffer, size, offset);
  }
  ssize_t Write(int fd, const void* data, std::size_t size) override {
    return Fails(kWrite, Name(fd)) ? -1 : PosixIo::Write(fd, data, size);
  }
  ssize_t PWrite(int fd, const void* data, std::size_t size, off_t offset) override {
    return Fails(kPWrite, Name(fd)) ? -1 : PosixIo::PWrite(fd, data, size, offset);
  }
  int Sync(int fd) override { return Fails(kSync, Name(fd)) ? -1 : PosixIo::Sync(fd); }
  int Truncate(int fd, off_t size) override {
    return Fails(kTruncate, Name(fd)) ? -1 : PosixIo::Truncate(fd, size);
  }
  int Allocate(int fd, off_t size) override {
    return Fails(kAllocate, Name(fd)) ? errno : PosixIo::Allocate(fd, size);
  }
  int ChangeMode(int fd, mode_t mode) override {
    return Fails(kChmod, Name(fd)) ? -1 : PosixIo::ChangeMode(fd, mode);
  }
  int ChangeOwner(int fd, uid_t owner, gid_t group) override {
    return Fails(kChown, Name(fd)) ? -1 : PosixIo::ChangeOwner(fd, owner, group);
  }
  int Stat(int fd, struct stat* st) override {
    return Fails(kStat, Name(fd)) ? -1 : PosixIo::Stat(fd, st);
  }
  int StatAt(int dir, const char* path, struct stat* st, int flags) override {
    return Fails(kStatAt, Join(dir, path)) ? -1 : PosixIo::StatAt(dir, path, st, flags);
  }
  int RenameAt(int from_dir, const char* from, int to_dir, const char* to) override {
    if (Fails(kRename, Join(from_dir, from) + " > " + Join(to_dir, to))) return -1;
    return PosixIo::RenameAt(from_dir, from, to_dir, to);
  }
  int UnlinkAt(int dir, const char* path, int flags) override {
    return Fails(kUnlink, Join(dir, path)) ? -1 : PosixIo::UnlinkAt(dir, path, flags);
  }
  int MakeDirAt(int dir, const char* path, mode_t mode) override {
    return Fails(kMakeDir, Join(dir, path)) ? -1 : PosixIo::MakeDirAt(dir, path, mode);
  }
  int Lock(int fd, int operation) override {
    return Fails(kLock, Name(fd)) ? -1 : PosixIo::Lock(fd, operation);
  }
  int Duplicate(int fd) override {
    int copy = PosixIo::Duplicate(fd);
    if (copy >= 0) names_[copy] = Name(fd);
    return copy;
  }
  int Close(int fd) override {
    std::string name = Name(fd);
    names_.erase(fd);
    if (Fails(kClose, name)) {
      PosixIo::Close(fd);
      errno = EIO;
      return -1;
    }
    return PosixIo::Close(fd);
  }

 private:
  static const char* CallName(Call call) {
    static const char* const kNames[] = {
        "open",  "read", "pread",  "write",  "pwrite", "sync",  "truncate", "allocate", "chmod",
        "chown", "stat", "statat", "rename", "unlink", "mkdir", "lock",     "close"};
    return kNames[call];
  }

  // The path of a descriptor: as it was opened through this, else as the system shows it (one
  // opened before this was put in place, which a run may hold from item to item).
  std::string Name(int fd) const {
    auto it = names_.find(fd);
    if (it != names_.end()) return it->second;
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = readlink(link.c_str(), path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : "fd " + std::to_string(fd);
  }
  std::string Join(int dir, const char* path) const {
    if (dir == AT_FDCWD || path[0] == '/') return path;
    return Name(dir) + "/" + path;
  }

  static bool Matches(const std::string& name, const std::string& part) {
    if (!part.empty() && part.back() == '$') {
      std::string end = part.substr(0, part.size() - 1);
      return name.size() >= end.size() &&
             name.compare(name.size() - end.size(), end.size(), end) == 0;
    }
    return name.find(part) != std::string::npos;
  }

  // Logs the call; true when a rule makes it fail (errno set).
  bool Fails(Call call, const std::string& name) {
    log_.push_back(std::string(CallName(call)) + " " + name);
    calls_.emplace_back(call, name);
    for (Rule& rule : rules_) {
      if (rule.call != call || !Matches(name, rule.path_part)) continue;
      if (++rule.seen != rule.nth) continue;
      if (rule.before) rule.before();
      if (rule.error != 0) {
        errno = rule.error;
        return true;
      }
    }
    return false;
  }

  std::vector<Rule> rules_;
  std::vector<std::string> log_;
  std::vector<std::pair<Call, std::string>> calls_;
  std::map<int, std::string> names_;
};
