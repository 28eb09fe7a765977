// The primitives of a replacement (replace.h) on Windows, for the data file and the exchange file
// alike: the temporary file beside the file (win32/temp-file.h), the old file's security
// descriptor and attributes, the identity checks, the rename, and the in-place rewrite's journal
// in %LOCALAPPDATA%\Keepxfer, else %TEMP%\Keepxfer. Other programs' handles are waited for inside
// each primitive (win32/held.h). Names are long paths (\\?\...).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/replace.h"
#include "win32/temp-file.h"

// Opens the file being replaced with `rights`, refusing any other file that took its name; 0, or
// the code. The handle is the caller's to close.
using OpenOldFile = std::function<int(DWORD rights, HANDLE* file)>;

// The opens of the file `path` (a long path), waiting for other programs' handles, while it is
// the file of that volume and index; "File access denied" for another.
OpenOldFile OpensOf(const std::wstring& path, DWORD volume, std::uint64_t index);

// The journal's primitives for one file: the file itself, opened through `open` when needed, and
// the journal folders.
class Win32JournalFiles : public JournalFiles {
 public:
  explicit Win32JournalFiles(OpenOldFile open) : open_(std::move(open)) {}

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
struct Win32OldFile {
  bool exists = false;
  HANDLE file = INVALID_HANDLE_VALUE;  // open with READ_CONTROL (it stays the caller's)
  DWORD volume = 0;                    // its identity
  std::uint64_t index = 0;
  // The exchange file: its size and last write time when it was read; growth is another
  // program's appends, which are kept. The data file is as read while it is the same file.
  bool keeps_appends = false;
  std::uint64_t size = 0;
  std::int64_t written = 0;
};

class Win32Replace : public ReplaceFiles {
 public:
  // The file whose full name (a long path) is `path`.
  Win32Replace(std::wstring path, const Win32OldFile& old, OpenOldFile open);

  int MakeTemporary() override;
  int WriteTemporary(std::string_view bytes) override;
  int GiveAttributes() override;
  int FlushTemporary() override;
  FileNow Compare() override;
  std::uint64_t SizeRead() const override { return old_.size; }
  bool ReadOldFrom(std::uint64_t offset, std::string* bytes) override;
  int RenameOver() override;
  void FlushFolder() override {}  // the rename is written through
  bool KeepsAppends() const override { return old_.keeps_appends; }
  int AppendToNew(std::string_view bytes) override;
  // This run lets go of the old file for the rename, and cannot look at it after.
  Holders OldFileHolders() override { return Holders::kUnknown; }
  void Pause() override { Sleep(1); }
  JournalFiles& InPlace() override { return journal_; }
  JournaledFile Journaled() const override;

  // Lets go of the old file before the rename, which Windows refuses while any handle of this
  // run holds it: `release` closes the caller's handles.
  void ReleaseOldBeforeRename(std::function<void()> release) { release_ = std::move(release); }

  // After the rename: the new file, open as the file, and its identity.
  HANDLE NewFile() const { return temp_.handle(); }
  DWORD NewVolume() const { return new_volume_; }
  std::uint64_t NewIndex() const { return new_index_; }

 private:
  std::wstring path_;
  Win32OldFile old_;
  Win32JournalFiles journal_;
  TempFile temp_;
  std::function<void()> release_;
  DWORD new_volume_ = 0;
  std::uint64_t new_index_ = 0;
};
