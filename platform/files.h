// The data file and file-existence tests. Names are the product's own paths (on POSIX a Windows
// path is found through the Wine prefix's drives). Every failure raises EInOutError with the
// platform's code mapped onto the tool's messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

enum class FileAccess { kRead, kReadWrite };

// The data file, pinned where it was found: the folder that holds it (kept open where the
// platform allows), its name in that folder, and the identity of the file. Every later open and
// the replacement go through that folder and refuse with "File access denied" when the name no
// longer leads to the same file, so a file put in its place meanwhile (a link to another file,
// say) is never read or written. A symbolic link that the user set up is followed when the pin
// is made: its target is the file that is pinned, read and replaced, and the link stays.
//
// Making a pin also finishes what a stopped in-place rewrite left: when a journal of such a
// rewrite of this very file is found, the old bytes are put back first.
//
// Runs take turns at the data file: a pin holds a lock on the file, shared (a run that reads it)
// or exclusive (an import, from its version check to its replacement), waiting for its turn
// first. A run that waited for another's replacement pins the file that the name leads to then.
enum class PinTurn { kShared, kExclusive };

class DataFilePin {
 public:
  // A missing file is pinned as missing (its folder must exist: "Invalid filename" otherwise).
  explicit DataFilePin(const std::string& name, PinTurn turn = PinTurn::kShared);
  ~DataFilePin();

  // Ends this run's turn before the pin goes (a run that has read what it needs).
  void EndTurn();
  DataFilePin(const DataFilePin&) = delete;
  DataFilePin& operator=(const DataFilePin&) = delete;

  const std::string& name() const { return name_; }

  struct State;
  State& state() const { return *state_; }

 private:
  std::string name_;
  std::unique_ptr<State> state_;
};

// An open data file; closes itself.
class DataFile {
 public:
  // Opens the pinned file; creates and changes nothing. Anything but a regular file (a
  // directory, a named pipe, a device), a read-only file opened for writing, a name the platform
  // refuses or a file that is no longer the pinned one raise "File access denied"; a missing
  // file "File not found".
  DataFile(const DataFilePin& pin, FileAccess access);
  ~DataFile();
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  // Reads up to `size` bytes; fewer only at the end of the file.
  std::size_t Read(void* buffer, std::size_t size);

 private:
  std::intptr_t handle_ = -1;
};

// Replaces the whole pinned data file with `bytes`: the new file is written beside the old one,
// flushed to disk, given what the old file had of its own (owner and mode; on Windows its
// security descriptor and attributes) and renamed over it. Where the folder refuses a new file
// the old one is rewritten in place under a journal (see DataFilePin). Any failure leaves the old
// file as it was. The pin then holds the new file, and its turn has ended.
void ReplaceDataFile(const DataFilePin& pin, const std::string& bytes);

// True when the file `path` (a name as the exchange file has it) is the pinned data file itself,
// by whatever name, link or letter case it is reached.
bool IsPinnedFile(const std::string& path, const DataFilePin& pin);

// True when `path` names an existing file that is not a directory.
bool IsExistingFile(const std::string& path);

// The data file that the product uses. A 32-bit program without an execution level (the product)
// that a user runs writes its files under Program Files to a copy of the user's own in
// %LOCALAPPDATA%\VirtualStore; a run that is not virtualised itself (elevated, over SSH, a
// scheduled task) must use that copy too. On Windows: that copy where it exists, else
// `dataFileName`; elsewhere `dataFileName`.
std::string DataFileInUse(const std::string& dataFileName);

// The name of that copy of `dataFileName` in the folder `localAppData`: the name without its
// drive behind "VirtualStore" ("C:\Program Files\Framekeep\Targets.DAT" gives
// "<localAppData>\VirtualStore\Program Files\Framekeep\Targets.DAT"); empty for a name that
// Windows does not virtualise (no drive, a network path).
std::string VirtualStoreName(const std::string& localAppData, const std::string& dataFileName);

// True when the pinned file is there (a missing file is pinned as missing).
bool PinnedFileExists(const DataFilePin& pin);

// True when `path` names a plain file whose first bytes are `start`: a look at those bytes alone.
bool FileStartsWith(const std::string& path, std::string_view start);
