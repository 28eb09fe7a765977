// How the tool replaces a file that a person owns, the data file and the exchange file alike.
//
// The new contents go into a temporary file beside the old one (".<name>.XXXXXX"), which gets what
// the old file had of its own (owner and mode; on Windows its security descriptor and attributes),
// is flushed to disk, and takes the old name by a rename once the name is seen to lead still to
// the file that was read; then the folder is flushed. Where the folder lets this user write the
// file but not make files in it, or rename them (a sticky folder, a Windows folder that grants
// "Write" but not "Modify"), the file is rewritten in place under a journal (journal.h), so
// that a stop half way is undone by the next run. What another program appended to the file since
// it was read goes on at the new file's end, also what it appends to the old file after the rename,
// until no program has the old file open (or, where the system cannot tell, until it has stayed as
// it is for a moment). Any failure leaves the old file as it was.
//
// The policy is written once here, over the primitives that each platform's file layer gives it for
// one file (ReplaceFiles: replace-posix.cpp, replace-win32.cpp), so that its rules are tested
// without a file system. Codes are the InOutCode values of base/Errors.h, or the two below.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/journal.h"

// Codes of the replacement beside the input/output codes.
constexpr int kFolderRefuses = -1;  // the folder lets this user make no file, or rename none
constexpr int kFileChanged = -2;    // the name no longer leads to the file as it was read

// What the name of the file leads to now, against what was read of it.
enum class FileNow {
  kAsRead,    // the file that was read, as it was read (or, for a new file, still nothing)
  kAppended,  // that file, grown behind what was read: another program appended
  kOther,     // anything else: another file, a file changed, or a file gone
};

// Whether a program other than this run has the old file open, after the rename.
enum class Holders {
  kNone,     // nobody: as its name is gone, nothing can be written to it any more
  kSome,     // some program still has it open
  kUnknown,  // this system cannot tell
};

// The primitives of one file's replacement. The implementation holds the file's folder and name,
// the old file (open, when there is one), and the temporary file while it lives, which goes with
// it unless it took the name.
class ReplaceFiles {
 public:
  virtual ~ReplaceFiles() = default;

  // Makes the temporary file beside the file, open for writing; temporary files that stopped runs
  // left go first. 0, kFolderRefuses, or the code.
  virtual int MakeTemporary() = 0;
  // Appends to the temporary file.
  virtual int WriteTemporary(std::string_view bytes) = 0;
  // Gives the temporary file what the old file has of its own, or what a new file of this user
  // gets.
  virtual int GiveAttributes() = 0;
  // Flushes the temporary file to disk, and reports a write that did not reach it.
  virtual int FlushTemporary() = 0;
  // What the name leads to now.
  virtual FileNow Compare() = 0;
  // The size of the old file as it was read, and its bytes from `offset` to its end as they are
  // now (what another program appended); false when they cannot be read.
  virtual std::uint64_t SizeRead() const = 0;
  virtual bool ReadOldFrom(std::uint64_t offset, std::string* bytes) = 0;
  // The temporary file takes the name. It stays open, now as the file. kFolderRefuses when this
  // user may not (and no other program's handle is in the way).
  virtual int RenameOver() = 0;
  virtual void FlushFolder() = 0;
  // Whether what other programs append to the file is kept (the exchange file's), and, after the
  // rename, appends to the new file.
  virtual bool KeepsAppends() const = 0;
  virtual int AppendToNew(std::string_view bytes) = 0;
  // Who has the old file open now, and a moment's wait (the watch of the old file after the
  // rename).
  virtual Holders OldFileHolders() = 0;
  virtual void Pause() = 0;
  // The in-place rewrite: the journal's primitives for the old file, and the file as a journal
  // names it.
  virtual JournalFiles& InPlace() = 0;
  virtual JournaledFile Journaled() const = 0;
};

// Replaces the file with `bytes`. 0; kFileChanged, with nothing changed, when the name no longer
// leads to the file as it was read (grown by appends, where they are kept, is still as read);
// or the code of the failure, with the old file as it was.
int ReplaceWhole(ReplaceFiles& files, std::string_view bytes);
