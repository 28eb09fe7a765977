// Temporary files beside the files the tool replaces (POSIX builds only): ".<name>.XXXXXX" in
// the same folder, created only through a folder descriptor, locked while they are written, and
// removed when the run is stopped by SIGTERM, SIGINT or SIGHUP. Temporary files that a killed
// run left behind are removed by the next run that saves into the folder; a file whose lock is
// held, one that another run is still writing, stays.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <string>

#include "posix/fd.h"

class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates ".<target>.XXXXXX" in the folder `folder`, open for reading and writing, locked and
  // with mode 0600. Stale temporary files of the same target go first. False with *err set
  // when no file can be created.
  bool Create(int folder, const std::string& target, int* err);

  int fd() const { return fd_.get(); }

  // Flushes the file to disk and reports a write that did not reach it (also one that only a
  // close reports, as on network file systems), while the lock stays. False with errno set.
  bool Flush();

  // Renames the file over `target` in its folder; afterwards it is no temporary file any more.
  // False with *err set; the file is then still there, and goes with this object.
  bool RenameOver(const std::string& target, int* err);

  // After the rename: the descriptor, which this no longer owns (invalid before the rename).
  Fd Release();

 private:
  int folder_ = -1;
  Fd fd_;
  std::string name_;
  int slot_ = -1;
};

// Gives the new file `fd` the owner and mode of the file it replaces: the owner first, then the
// mode, so that the setuid and setgid bits stay. Where the owner cannot be given away the group
// is still kept when this user belongs to it; where neither can be kept the file keeps this
// user's group, and its group gets no more than the others had. 0, or the errno value.
int GiveAttributesOf(int fd, const struct stat& old);

// Blocks SIGTERM, SIGINT and SIGHUP while it lives, so that what it guards is done whole
// before such a signal ends the run.
class HoldStopSignals {
 public:
  HoldStopSignals();
  ~HoldStopSignals();
  HoldStopSignals(const HoldStopSignals&) = delete;
  HoldStopSignals& operator=(const HoldStopSignals&) = delete;

 private:
  sigset_t saved_;
};

// Installs the handlers that remove the temporary files of a run stopped by SIGTERM, SIGINT or
// SIGHUP; the run still ends by that signal. A signal that the run was started with ignored
// stays ignored.
void InstallTempFileCleanup();
