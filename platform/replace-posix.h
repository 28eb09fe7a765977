// The primitives of a replacement (replace.h) on POSIX systems, for the data file and the
// exchange file alike: the temporary file beside the file (posix/temp-file.h), the old file's
// owner and mode, the identity checks through the folder's descriptor, the rename, and the
// in-place rewrite's journal in the user's state folder, else in a private temporary folder
// (posix/state-folder.h).
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>

#include "platform/replace.h"
#include "posix/fd.h"
#include "posix/temp-file.h"

// Opens the file being replaced with `flags`, refusing any other file that took its name; 0, or
// the code.
using OpenOldFile = std::function<int(int flags, Fd* file)>;

// Opens the file `leaf` of the open folder `folder` with `flags`, never through a link put in its
// place, while it is the regular file that `identity` names; "File access denied" for anything
// else (errno is then the open's, or 0 when another file was opened). 0, or the code.
int OpenIdentified(int folder, const std::string& leaf, const struct stat& identity, int flags,
                   Fd* file);

// Those opens, of the file as it is now.
OpenOldFile OpensOf(int folder, const std::string& leaf, const struct stat& identity);

// The journal's primitives for one file: the file itself, opened through `open` when needed, and
// the journal folders.
class PosixJournalFiles : public JournalFiles {
 public:
  explicit PosixJournalFiles(OpenOldFile open) : open_(std::move(open)) {}

  int ReadData(std::string* bytes) override;
  int OverwriteData(const std::string& bytes) override;
  int JournalPlaces() const override { return 2; }
  bool ReadJournal(int place, const std::string& name, std::string* text) override;
  int WriteJournal(int place, const std::string& name, const std::string& text) override;
  void RemoveJournal(int place, const std::string& name) override;

 private:
  OpenOldFile open_;
};

// The file as it was read, for its replacement.
struct PosixOldFile {
  bool exists = false;
  int fd = -1;             // the old file, open for reading (it stays the caller's)
  struct stat read_as {};  // its identity, size and times when it was read
  // The exchange file: its growth is another program's appends, which are kept; and only the
  // same size and times are "as read". The data file is as read while it is the same file.
  bool keeps_appends = false;
};

class PosixReplace : public ReplaceFiles {
 public:
  // The file `leaf` in the open folder `folder`; `path` is its full name, for its journal.
  PosixReplace(int folder, std::string leaf, std::string path, const PosixOldFile& old,
               OpenOldFile open);

  int MakeTemporary() override;
  int WriteTemporary(std::string_view bytes) override;
  int GiveAttributes() override;
  int FlushTemporary() override;
  FileNow Compare() override;
  std::uint64_t SizeRead() const override {
    return static_cast<std::uint64_t>(old_.read_as.st_size);
  }
  bool ReadOldFrom(std::uint64_t offset, std::string* bytes) override;
  int RenameOver() override;
  void FlushFolder() override;
  bool KeepsAppends() const override { return old_.keeps_appends; }
  int AppendToNew(std::string_view bytes) override;
  Holders OldFileHolders() override;
  void Pause() override;
  JournalFiles& InPlace() override { return journal_; }
  JournaledFile Journaled() const override;

  // After the rename: the new file, open (and locked) as the file; or its ownership.
  int NewFile() const { return temp_.fd(); }
  Fd TakeNewFile() { return temp_.Release(); }

 private:
  int folder_;
  std::string leaf_;
  std::string path_;
  PosixOldFile old_;
  PosixJournalFiles journal_;
  TempFile temp_;
  std::uint64_t temp_size_ = 0;
  bool appending_ = false;
};
