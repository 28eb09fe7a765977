// The data file and file-existence tests. Names are the product's own paths
// (on POSIX a Windows path is found through the Wine prefix's drives).
// Every failure raises EInOutError with the platform's code mapped onto the
// tool's messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class FileAccess { kRead, kReadWrite };

// An open data file; closes itself.
class DataFile {
 public:
  // Opens an existing file; creates and changes nothing. A directory, a
  // read-only file opened for writing, or a name the platform refuses raise
  // "File access denied"; a missing file "File not found"; a missing
  // directory along the name "Invalid filename".
  DataFile(const std::string& name, FileAccess access);
  ~DataFile();
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;

  // Reads up to `size` bytes; fewer only at the end of the file.
  std::size_t Read(void* buffer, std::size_t size);

 private:
  std::intptr_t handle_ = -1;
};

// Replaces the whole data file with `bytes`: the new file is written beside
// the old one, flushed to disk, given the old file's attributes and renamed
// over it (a symbolic link keeps pointing at the new file). Where the
// directory refuses a new file the old one is rewritten in place, after space
// for it is reserved. Any failure leaves the old file as it was.
void ReplaceDataFile(const std::string& name, const std::string& bytes);

// True when `path` names an existing file that is not a directory.
bool IsExistingFile(const std::string& path);
