#include "posix/temp-file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "base/temp-name.h"

namespace {

const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The temporary files being written, for the signal handler: their folder and name, in plain
// storage that the handler may read.
struct Slot {
  volatile sig_atomic_t used;
  int folder;
  char name[256];
};
Slot g_slots[4];

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kStopSignals) sigaddset(&set, signal);
  return set;
}

extern "C" void RemoveTempFilesAndStop(int signal) {
  for (Slot& slot : g_slots) {
    if (slot.used) unlinkat(slot.folder, slot.name, 0);
  }
  // Ends the run by the same signal, once the handler returns and the signal is unblocked.
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  raise(signal);
}

// Called with the stop signals blocked.
int TakeSlot(int folder, const std::string& name) {
  if (name.size() >= sizeof g_slots[0].name) return -1;
  for (int i = 0; i < static_cast<int>(sizeof g_slots / sizeof g_slots[0]); ++i) {
    Slot& slot = g_slots[i];
    if (slot.used) continue;
    slot.folder = folder;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.used = 1;
    return i;
  }
  return -1;
}

// Removes the temporary files of `target` that nobody holds locked. Runs with the folder locked
// exclusively; a folder that another run is creating a file in is left for another time.
void SweepStaleTempFiles(int folder, const std::string& target) {
  Fd listing_fd(Io().OpenAt(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!listing_fd.ok()) return;
  DIR* listing = fdopendir(listing_fd.get());
  if (listing == nullptr) return;
  listing_fd.Release();
  while (const dirent* entry = readdir(listing)) {
    if (!IsTempNameOf<char>(entry->d_name, target)) continue;
    Fd stale(Io().OpenAt(folder, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
    struct stat held, named;
    if (!stale.ok() || Io().Stat(stale.get(), &held) != 0 || !S_ISREG(held.st_mode) ||
        Io().Lock(stale.get(), LOCK_EX | LOCK_NB) != 0) {
      continue;
    }
    // Removed only while it is the file that was locked.
    if (Io().StatAt(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
      Io().UnlinkAt(folder, entry->d_name, 0);
    }
  }
  closedir(listing);
}

// A seed that differs between runs and between the names one run draws.
unsigned long long TempSeed() {
  static std::atomic<unsigned> counter{0};
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<unsigned long long>(now.tv_nsec) ^
         (static_cast<unsigned long long>(getpid()) << 32) ^
         (static_cast<unsigned long long>(counter++) * 0x9E3779B97F4A7C15ull);
}

}  // namespace

HoldStopSignals::HoldStopSignals() {
  sigset_t set = StopSignalSet();
  sigprocmask(SIG_BLOCK, &set, &saved_);
}

HoldStopSignals::~HoldStopSignals() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

TempFile::~TempFile() {
  if (name_.empty()) return;
  HoldStopSignals hold;
  Io().UnlinkAt(folder_, name_.c_str(), 0);
  if (slot_ >= 0) g_slots[slot_].used = 0;
}

bool TempFile::Create(int folder, const std::string& target, int* err) {
  // Creating takes the folder's lock shared, so that a sweep, which takes it exclusively, never
  // sees a new file before its writer has locked it. Folders that cannot be locked (opened for
  // searching only) are neither swept nor waited for.
  bool folder_locked = Io().Lock(folder, LOCK_EX | LOCK_NB) == 0;
  if (folder_locked) {
    SweepStaleTempFiles(folder, target);
    Io().Lock(folder, LOCK_SH);
  } else {
    folder_locked = errno == EWOULDBLOCK && Io().Lock(folder, LOCK_SH) == 0;
  }
  *err = EEXIST;
  for (int attempt = 0; attempt < 100 && *err == EEXIST; ++attempt) {
    std::string name = TempName<char>(target, TempSeed());
    HoldStopSignals hold;
    int fd =
        Io().OpenAt(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      *err = errno;
      continue;
    }
    folder_ = folder;
    fd_.Reset(fd);
    name_ = name;
    slot_ = TakeSlot(folder, name);
    Io().Lock(fd, LOCK_EX);
    *err = 0;
  }
  if (folder_locked) Io().Lock(folder, LOCK_UN);
  return *err == 0;
}

bool TempFile::Flush() {
  if (Io().Sync(fd_.get()) != 0) return false;
  // Closing a copy reports what the close of the file would, and the lock, which belongs to
  // the open file and not to one descriptor, stays.
  int copy = Io().Duplicate(fd_.get());
  return copy >= 0 && Io().Close(copy) == 0;
}

bool TempFile::RenameOver(const std::string& target, int* err) {
  HoldStopSignals hold;
  if (Io().RenameAt(folder_, name_.c_str(), folder_, target.c_str()) != 0) {
    *err = errno;
    return false;
  }
  if (slot_ >= 0) g_slots[slot_].used = 0;
  slot_ = -1;
  name_.clear();
  return true;
}

Fd TempFile::Release() {
  if (!name_.empty()) return Fd();
  return std::move(fd_);
}

int GiveAttributesOf(int fd, const struct stat& old) {
  bool owner_kept = old.st_uid == geteuid();
  bool group_kept = old.st_gid == getegid();
  if (!owner_kept || !group_kept) {
    if (Io().ChangeOwner(fd, old.st_uid, old.st_gid) == 0) {
      owner_kept = group_kept = true;
    } else if (errno != EPERM) {
      return errno;
    } else if (!group_kept && Io().ChangeOwner(fd, static_cast<uid_t>(-1), old.st_gid) == 0) {
      // Only a privileged process may give a file away, but any member may keep its group.
      group_kept = true;
    }
  }
  mode_t mode = old.st_mode & 07777;
  // The setuid and setgid bits meant the old owner and group.
  if (!owner_kept) mode &= ~static_cast<mode_t>(S_ISUID);
  if (!group_kept) {
    // This user's group had the permissions of others on the old file, and no more.
    mode_t group = (mode & S_IRWXG) & ((mode & S_IRWXO) << 3);
    mode = (mode & ~static_cast<mode_t>(S_IRWXG | S_ISGID)) | group;
  }
  return Io().ChangeMode(fd, mode) == 0 ? 0 : errno;
}

void InstallTempFileCleanup() {
  for (int signal : kStopSignals) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = RemoveTempFilesAndStop;
    action.sa_mask = StopSignalSet();
    sigaction(signal, &action, nullptr);
  }
}
