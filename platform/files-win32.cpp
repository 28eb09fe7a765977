// The data file through the Win32 file API. Windows error codes are the tool's own
// input/output codes, so every failure raises GetLastError's code as it is.
#include "platform/files.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/Errors.h"
#include "platform/journal.h"
#include "win32/handle.h"
#include "win32/path.h"

struct DataFilePin::State {
  std::string path;  // the file's full name, after links
  bool exists = false;
  DWORD volume = 0;  // its identity: volume serial number and file index
  std::uint64_t index = 0;
};

namespace {

using State = DataFilePin::State;

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The attributes a file can be given by name.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_TEMPORARY;

[[noreturn]] void RaiseLastError() { RaiseInOutError(static_cast<int>(GetLastError())); }

DWORD SetSize(HANDLE file, std::uint64_t size) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
    return GetLastError();
  }
  return 0;
}

DWORD SeekTo(HANDLE file, std::uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) ? 0 : GetLastError();
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The directory part of `path` with its separator ("" for a bare name), ready for a file
// name to be appended.
std::string DirectoryPrefix(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1]) && path[end - 1] != ':') --end;
  return path.substr(0, end);
}

std::string Leaf(const std::string& path) { return path.substr(DirectoryPrefix(path).size()); }

bool Identify(HANDLE file, DWORD* volume, std::uint64_t* index, DWORD* attributes = nullptr) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  *volume = info.dwVolumeSerialNumber;
  *index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  return true;
}

bool SameFile(HANDLE file, const State& s) {
  DWORD volume = 0;
  std::uint64_t index = 0;
  return Identify(file, &volume, &index) && volume == s.volume && index == s.index;
}

// Opens the pinned file itself: a file put in its place meanwhile is refused.
HANDLE OpenPinned(const State& s, DWORD rights, DWORD share = kShareReadWrite) {
  if (!s.exists) RaiseInOutError(kFileNotFound);
  Handle file(CreateFileA(s.path.c_str(), rights, share, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) RaiseLastError();
  // Only a file on disk is a data file: a pipe or a device is refused before anything is read.
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !SameFile(file.get(), s)) {
    RaiseInOutError(kAccessDenied);
  }
  return file.Release();
}

bool ReadAll(HANDLE file, std::string* bytes) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || SeekTo(file, 0) != 0) return false;
  bytes->resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes->size()) {
    DWORD got = 0;
    std::size_t left = bytes->size() - done;
    DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    if (!ReadFile(file, &(*bytes)[done], chunk, &got, nullptr)) return false;
    if (got == 0) break;
    done += got;
  }
  bytes->resize(done);
  return true;
}

// Puts `bytes` in place of the open file's contents; the new size is reserved first, so that a
// full disk fails before the old contents are touched. 0, or the error.
DWORD Overwrite(HANDLE file, const std::string& bytes) {
  LARGE_INTEGER old_size;
  if (!GetFileSizeEx(file, &old_size)) return GetLastError();
  DWORD error = 0;
  if (bytes.size() > static_cast<std::uint64_t>(old_size.QuadPart)) {
    error = SetSize(file, bytes.size());
  }
  if (error == 0) error = SeekTo(file, 0);
  if (error == 0) error = WriteAll(file, bytes);
  if (error == 0) error = SetSize(file, bytes.size());
  if (error == 0 && !FlushFileBuffers(file)) error = GetLastError();
  return error;
}

// Creates a file that did not exist, with a short unique name in `directory` (the name
// of the temporary file is no longer than the data file's usual name, so it fits wherever
// that does). Returns the error of the last attempt when none can be created.
DWORD CreateTempFile(const std::string& directory, Handle* file, std::string* name) {
  static const char kHex[] = "0123456789ABCDEF";
  DWORD seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
  DWORD error = ERROR_FILE_EXISTS;
  for (DWORD attempt = 0; attempt < 64 && error == ERROR_FILE_EXISTS; ++attempt) {
    DWORD number = (seed + attempt * 40503u) & 0xFFFF;
    std::string candidate = directory + "kx";
    for (int shift = 12; shift >= 0; shift -= 4) candidate += kHex[(number >> shift) & 0xF];
    candidate += ".tmp";
    HANDLE handle = CreateFileA(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      file->Reset(handle);
      *name = candidate;
      return 0;
    }
    error = GetLastError();
  }
  return error;
}

// ---- The journal's primitives: journals in %LOCALAPPDATA%\Keepxfer ----

std::string JournalFolder() {
  const char* local = std::getenv("LOCALAPPDATA");
  if (local == nullptr || local[0] == '\0') return "";
  std::string folder = local;
  if (!IsSeparator(folder.back())) folder += '\\';
  return folder + "Keepxfer\\";
}

// The pinned data file and the journal folder, for the journal's policy.
class Win32JournalFiles : public JournalFiles {
 public:
  // `open` is the data file when the caller holds it open already.
  Win32JournalFiles(const State& s, HANDLE open = INVALID_HANDLE_VALUE) : s_(s), open_(open) {}

  std::string ReadData() override {
    std::string bytes;
    if (!ReadAll(Data(GENERIC_READ), &bytes)) RaiseLastError();
    return bytes;
  }

  int OverwriteData(const std::string& bytes) override {
    return static_cast<int>(Overwrite(Data(GENERIC_READ | GENERIC_WRITE), bytes));
  }

  int JournalPlaces() const override { return 1; }

  bool ReadJournal(int, const std::string& name, std::string* text) override {
    std::string folder = JournalFolder();
    if (folder.empty()) return false;
    Handle journal(CreateFileA((folder + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return journal.ok() && ReadAll(journal.get(), text);
  }

  int WriteJournal(int, const std::string& name, const std::string& text) override {
    std::string folder = JournalFolder();
    if (folder.empty()) return ERROR_PATH_NOT_FOUND;
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return static_cast<int>(GetLastError());
    }
    Handle temp;
    std::string temp_name;
    DWORD error = CreateTempFile(folder, &temp, &temp_name);
    if (error == 0) error = WriteAll(temp.get(), text);
    if (error == 0 && !FlushFileBuffers(temp.get())) error = GetLastError();
    if (error == 0) error = temp.Close();
    if (error == 0 && !MoveFileExA(temp_name.c_str(), (folder + name).c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      error = GetLastError();
    }
    if (error != 0 && !temp_name.empty()) DeleteFileA(temp_name.c_str());
    return static_cast<int>(error);
  }

  void RemoveJournal(int, const std::string& name) override {
    std::string folder = JournalFolder();
    if (!folder.empty()) DeleteFileA((folder + name).c_str());
  }

 private:
  // The data file, opened here when the caller did not.
  HANDLE Data(DWORD rights) {
    if (open_ != INVALID_HANDLE_VALUE) return open_;
    own_.Reset(OpenPinned(s_, rights));
    return own_.get();
  }

  const State& s_;
  HANDLE open_;
  Handle own_;
};

JournaledFile JournaledFileOf(const State& s) {
  return JournaledFile{s.path, Leaf(s.path), s.volume, s.index};
}

}  // namespace

DataFilePin::DataFilePin(const std::string& name) : name_(name), state_(std::make_unique<State>()) {
  State& s = *state_;
  s.path = name;
  Handle file(CreateFileA(name.c_str(), 0, kShareReadWrite | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.ok()) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) RaiseInOutError(static_cast<int>(error));
    return;
  }
  DWORD attributes = 0;
  if (!Identify(file.get(), &s.volume, &s.index, &attributes)) RaiseLastError();
  s.exists = true;
  // A link that the user set up (also one that Wine shows as a plain file) leads to the file
  // to use.
  char buffer[MAX_PATH * 4];
  DWORD length = GetFinalPathNameByHandleA(file.get(), buffer, sizeof buffer, VOLUME_NAME_DOS);
  if (length != 0 && length < sizeof buffer) s.path.assign(buffer, length);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    Win32JournalFiles files(s);
    RecoverFromJournal(files, JournaledFileOf(s));
  }
}

DataFilePin::~DataFilePin() = default;

DataFile::DataFile(const DataFilePin& pin, FileAccess access) {
  const State& s = pin.state();
  DWORD rights = access == FileAccess::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  Handle file(OpenPinned(s, rights));
  // Windows refuses to open a read-only file for writing; under Wine a privileged user is
  // not refused, so the attribute is tested as well.
  BY_HANDLE_FILE_INFORMATION info;
  if (access == FileAccess::kReadWrite && GetFileInformationByHandle(file.get(), &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    RaiseInOutError(kAccessDenied);
  }
  handle_ = reinterpret_cast<std::intptr_t>(file.Release());
}

DataFile::~DataFile() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::size_t DataFile::Read(void* buffer, std::size_t size) {
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  char* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    std::size_t left = size - done;
    DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(file, out + done, chunk, &got, nullptr)) RaiseLastError();
    if (got == 0) break;
    done += got;
  }
  return done;
}

void ReplaceDataFile(const DataFilePin& pin, const std::string& bytes) {
  State& s = pin.state();
  DWORD attributes = 0;
  Handle old;
  if (s.exists) {
    attributes = GetFileAttributesA(s.path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
      RaiseInOutError(kAccessDenied);
    }
    // The old file must be the pinned one, and one this user may write, as for an in-place
    // rewrite; a file that another program holds without sharing fails here too.
    old.Reset(OpenPinned(s, GENERIC_READ | GENERIC_WRITE, kShareReadWrite | FILE_SHARE_DELETE));
  }

  Handle temp;
  std::string temp_name;
  DWORD error = CreateTempFile(DirectoryPrefix(s.path), &temp, &temp_name);
  if (error == ERROR_ACCESS_DENIED && s.exists) {
    // The folder refuses new files: the file is rewritten in place, under a journal.
    Win32JournalFiles files(s, old.get());
    return RewriteUnderJournal(files, JournaledFileOf(s), bytes);
  }
  if (error != 0) RaiseInOutError(static_cast<int>(error));

  error = WriteAll(temp.get(), bytes);
  if (error == 0 && !FlushFileBuffers(temp.get())) error = GetLastError();
  DWORD volume = 0;
  std::uint64_t index = 0;
  if (error == 0 && !Identify(temp.get(), &volume, &index)) error = GetLastError();
  if (error == 0) error = temp.Close();
  DWORD keep = s.exists ? attributes & kSettableAttributes : 0;
  if (error == 0 && keep != 0 && !SetFileAttributesA(temp_name.c_str(), keep)) {
    error = GetLastError();
  }
  old.Reset();
  if (error == 0 && !MoveFileExA(temp_name.c_str(), s.path.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != 0) {
    if (temp.ok()) temp.Close();
    DeleteFileA(temp_name.c_str());
    RaiseInOutError(static_cast<int>(error));
  }
  s.exists = true;
  s.volume = volume;
  s.index = index;
}

bool IsPinnedFile(const std::string& path, const DataFilePin& pin) {
  const State& s = pin.state();
  if (!s.exists) return false;
  Handle file(CreateFileA(path.c_str(), 0, kShareReadWrite | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.ok() && SameFile(file.get(), s);
}

bool IsExistingFile(const std::string& path) {
  DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
