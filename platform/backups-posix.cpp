// The folders of copies on POSIX systems: the state folder's "backups", else the one in the
// private temporary folder (posix/state-folder.h), held by a descriptor; and -Bak's copy, written
// through the folder of its name.
#include "platform/backups.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "base/Errors.h"
#include "platform/replace-posix.h"
#include "posix/error.h"
#include "posix/fd.h"
#include "posix/path.h"
#include "posix/state-folder.h"

namespace {

// A copy is a file of the tool's own, as a journal is: what stops it is told by the system's
// number ("I/O error 13"), never as one of the data file's messages ("File access denied"), which
// would point at the wrong file. Each step's number is taken right where it failed.
class CopyReplace : public PosixReplace {
 public:
  using PosixReplace::PosixReplace;
  int MakeTemporary() override { return Plain(PosixReplace::MakeTemporary()); }
  int WriteTemporary(std::string_view bytes) override {
    return Plain(PosixReplace::WriteTemporary(bytes));
  }
  int GiveAttributes() override { return Plain(PosixReplace::GiveAttributes()); }
  int FlushTemporary() override { return Plain(PosixReplace::FlushTemporary()); }
  int RenameOver() override { return Plain(PosixReplace::RenameOver()); }

 private:
  static int Plain(int code) { return code > 0 ? PlainIoError(errno) : code; }
};

int NoOldFile(int, Fd*) { return kFileNotFound; }

class PosixBackupFiles : public BackupFiles {
 public:
  int Places() const override { return 2; }
  int OpenFolder(int place) override {
    const StatePlace where = place == 0 ? StatePlace::kStateFolder : StatePlace::kTemporaryFolder;
    folder_ = OpenStateFolder(where, "backups", true);
    path_ = StateFolderPath(where, "backups");
    return folder_.ok() ? 0 : PlainIoError(errno);
  }
  std::vector<std::string> List() override {
    std::vector<std::string> names;
    Fd listing_fd(Io().OpenAt(folder_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    DIR* listing = listing_fd.ok() ? fdopendir(listing_fd.get()) : nullptr;
    if (listing == nullptr) return names;
    listing_fd.Release();
    while (const dirent* entry = readdir(listing)) names.emplace_back(entry->d_name);
    closedir(listing);
    return names;
  }
  int WriteNew(const std::string& name, std::string_view bytes) override {
    CopyReplace files(folder_.get(), name, path_ + "/" + name, PosixOldFile(), NoOldFile);
    return ReplaceWhole(files, bytes);
  }
  void Remove(const std::string& name) override { Io().UnlinkAt(folder_.get(), name.c_str(), 0); }

 private:
  Fd folder_;
  std::string path_;
};

}  // namespace

std::unique_ptr<BackupFiles> UsersBackupFiles() { return std::make_unique<PosixBackupFiles>(); }

std::string LocalTimeStamp() {
  const time_t now = time(nullptr);
  struct tm local {};
  char text[32] = "";
  if (localtime_r(&now, &local) != nullptr) strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

namespace {

// `path` with the links of its folder followed; the name itself stays.
std::string FullName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return RealPath(".") + "/" + path;
  return RealPath(path.substr(0, slash + 1)) + path.substr(slash);
}

}  // namespace

int SaveCopyAs(const std::string& name, std::string_view bytes) {
  // A link that the user set up stays: its target is replaced, in the target's folder.
  const std::string target = RealPath(name);
  const std::size_t slash = target.rfind('/');
  const std::string folder_name = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                                             : target.substr(0, slash);
  const std::string leaf = slash == std::string::npos ? target : target.substr(slash + 1);
  if (leaf.empty()) return kAccessDenied;
  Fd folder(Io().OpenAt(AT_FDCWD, folder_name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (!folder.ok()) return errno == ENOENT ? kPathNotFound : InOutCodeFromErrno(errno);
  PosixOldFile old;
  if (Io().StatAt(folder.get(), leaf.c_str(), &old.read_as, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(old.read_as.st_mode)) return kAccessDenied;
    old.exists = true;
  } else if (errno != ENOENT) {
    return InOutCodeFromErrno(errno);
  }
  PosixReplace files(folder.get(), leaf, target, old, OpensOf(folder.get(), leaf, old.read_as));
  const int code = ReplaceWhole(files, bytes);
  return code == kFileChanged ? kAccessDenied : code;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  return FullName(a) == FullName(b);
}
