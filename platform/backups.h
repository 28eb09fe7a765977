// Copies of the data file: the one that every import keeps of the file it replaces, in a folder of
// the user's own, and the one that -Bak writes where the user says.
//
// An import's copies go into the user's folder of copies: $XDG_STATE_HOME/keepxfer/backups or
// ~/.local/state/keepxfer/backups on POSIX, %LOCALAPPDATA%\Keepxfer\Backups on Windows; where that
// cannot be made or written, into the folder "backups" ("Backups") of the tool's own folder in the
// temporary folder, as for the journals (posix/state-folder.h, win32/state-folder.h). A copy is
// named after the local time of the import, Targets-YYYYMMDD-HHMMSS.DAT, and a second one of the
// same second Targets-YYYYMMDD-HHMMSS-2.DAT, then -3, ...; they are ordered by that time, then by
// that number, never by the files' own times. The run that adds one removes the older ones beyond
// the newest kCopiesKept, and only files named so.
//
// The policy is written once here, over the primitives that each platform gives it for its folders
// (BackupFiles: backups-posix.cpp, backups-win32.cpp), so that its rules are tested without a file
// system. Codes are the InOutCode values of base/Errors.h, or kFileChanged (platform/replace.h).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/replace.h"

constexpr int kCopiesKept = 20;

// The primitives of the folders of copies.
class BackupFiles {
 public:
  virtual ~BackupFiles() = default;

  // The folders a copy may go to, in the order they are tried: 0 .. Places() - 1.
  virtual int Places() const = 0;
  // Opens the folder `place` for the calls below, making it when it is not there. 0, or the code.
  virtual int OpenFolder(int place) = 0;
  // The names in the open folder.
  virtual std::vector<std::string> List() = 0;
  // Writes `bytes` as the new file `name` of the open folder through the replacement
  // (replace.h): whole and flushed before it takes the name. kFileChanged, with nothing written,
  // when the name is taken. 0, or the code.
  virtual int WriteNew(const std::string& name, std::string_view bytes) = 0;
  virtual void Remove(const std::string& name) = 0;
};

// Keeps `bytes` as the newest copy, named after `stamp` (the local time as "YYYYMMDD-HHMMSS"), in
// the first folder that takes it, and removes the copies there beyond the newest kCopiesKept.
// 0, or the code of the first folder's failure, with nothing written.
int KeepCopy(BackupFiles& files, const std::string& stamp, std::string_view bytes);

// ---- The service, over each platform's files ----

// This platform's folders of copies (backups-posix.cpp, backups-win32.cpp).
std::unique_ptr<BackupFiles> UsersBackupFiles();
// The local time as "YYYYMMDD-HHMMSS".
std::string LocalTimeStamp();

// Keeps `bytes`, the data file as an import is about to replace it, in the user's folder of
// copies (KeepCopy). Where no folder takes it, EInOutError "I/O error <n>" with the system's
// number for the first folder: never one of the data file's own messages.
void KeepCopyOfDataFile(std::string_view bytes);

// Writes `bytes` as the file `name` (a name as the exchange file has it) through the replacement:
// a new file, or one in place of the file of that name, which keeps what that file had of its own;
// a symbolic link stays and its target is replaced. 0, or the code.
int SaveCopyAs(const std::string& name, std::string_view bytes);

// True when `a` and `b` (names as the exchange file has them) name one file: by the same full
// name, or, for files that exist, by their identity, whatever names or links lead to them.
bool IsSameFile(const std::string& a, const std::string& b);
