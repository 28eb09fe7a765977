// Temporary files beside the files the tool replaces (Windows builds): ".<name>.XXXXXX" in the
// same folder. This run holds its file open while it writes it, which keeps any other run's sweep
// away from it; temporary files that a killed run left behind are removed by the next run that
// saves into the folder; Ctrl-C, Ctrl-Break and a closed console remove this run's own before the
// run ends.
#pragma once

#include <windows.h>

#include <string>

class TempFile {
 public:
  TempFile() = default;
  ~TempFile();  // removes the file unless it was renamed
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates ".<leaf>.XXXXXX" in `folder` (a long path ending in a separator), open for reading,
  // writing and changing its security, after removing stale temporary files of the same leaf.
  // 0, or the error of the last attempt.
  DWORD Create(const std::wstring& folder, const std::wstring& leaf);

  HANDLE handle() const { return handle_; }

  // Flushes the file to disk. 0, or the error.
  DWORD Flush();

  // Renames the file over `target` (replacing it), waiting for other programs' handles (held.h).
  // The file stays open, now as `target`; it is no temporary file any more. 0, or the error.
  DWORD RenameOver(const std::wstring& target);

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::wstring path_;
  int slot_ = -1;
};

// Installs the console handler that removes this run's temporary files when Ctrl-C, Ctrl-Break,
// or the closing of its console ends the run.
void InstallTempFileCleanup();
