// The INI engine's file primitives on Windows.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/inifile.h"

namespace inifile {

namespace {

// Owns a file handle.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (ok()) CloseHandle(handle_);
  }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Closes now; false if the close reports an error.
  bool Close() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_TEMPORARY;
// 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpoch = 116444736000000000;

std::int64_t Nanoseconds(std::uint64_t ticks) {
  return (static_cast<std::int64_t>(ticks) - kUnixEpoch) * 100;
}

std::uint64_t Join(DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; }

HANDLE Open(const std::string& path, DWORD access, DWORD disposition, DWORD flags = 0) {
  return CreateFileA(path.c_str(), access, kShareAll, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

// The state of the open file; *attributes receives its attributes when given.
FileStamp ToStamp(HANDLE file, DWORD* attributes = nullptr) {
  FileStamp stamp;
  stamp.kind = FileKind::kOther;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return stamp;
  }
  stamp.kind = FileKind::kRegular;
  stamp.device = info.dwVolumeSerialNumber;
  stamp.inode = Join(info.nFileIndexHigh, info.nFileIndexLow);
  stamp.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  stamp.modified_ns =
      Nanoseconds(Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
  FILE_BASIC_INFO basic;
  if (GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    stamp.changed_ns = Nanoseconds(static_cast<std::uint64_t>(basic.ChangeTime.QuadPart));
  }
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  return stamp;
}

bool SeekTo(HANDLE file, std::uint64_t offset) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != 0;
}

bool WriteAll(HANDLE file, std::string_view data, std::uint64_t offset) {
  if (!SeekTo(file, offset)) return false;
  while (!data.empty()) {
    DWORD chunk = data.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(data.size());
    DWORD written = 0;
    if (!WriteFile(file, data.data(), chunk, &written, nullptr) || written == 0) return false;
    data.remove_prefix(written);
  }
  return true;
}

bool CutAt(HANDLE file, std::uint64_t size) { return SeekTo(file, size) && SetEndOfFile(file); }

// Reads until `size` bytes are in or the file ends; the count read.
size_t ReadFully(HANDLE file, char* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    size_t left = size - done;
    DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(file, out + done, chunk, &got, nullptr) || got == 0) break;
    done += got;
  }
  return done;
}

// One attempt at reading the whole file: false when it is unreadable, or grew or changed
// during the read (then *changed is set).
}  // namespace

bool ReadWholeFile(const std::string& path, std::string* content, FileStamp* stamp, bool* changed) {
  *changed = false;
  Handle file(Open(path, GENERIC_READ, OPEN_EXISTING));
  if (!file.ok()) return false;
  FileStamp before = ToStamp(file.get());
  if (before.kind != FileKind::kRegular) return false;
  content->resize(static_cast<size_t>(before.size));
  size_t got = ReadFully(file.get(), &(*content)[0], content->size());
  char extra;
  if (got != content->size() || ReadFully(file.get(), &extra, 1) != 0 ||
      ToStamp(file.get()) != before) {
    *changed = true;
    return false;
  }
  *stamp = before;
  return true;
}

namespace {

bool IsMissingError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The full name of the open file, reached through any symbolic link (also links that Wine
// shows as plain files); `path` itself when it cannot be found out.
std::string FinalTarget(const std::string& path, HANDLE file) {
  char buffer[MAX_PATH * 4];
  DWORD length = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof buffer) return path;
  return std::string(buffer, length);
}

// Creates a new file with a short unique name in the directory of `target`, open for
// writing and shared for deletion, so that it can be renamed while open. On failure the
// handle is invalid and the last error tells why.
HANDLE CreateTempBeside(const std::string& target, std::string* temp_name) {
  size_t end = target.find_last_of("\\/:");
  std::string directory = end == std::string::npos ? std::string() : target.substr(0, end + 1);
  DWORD seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
  for (DWORD attempt = 0; attempt < 64; ++attempt) {
    char name[16];
    std::snprintf(name, sizeof name, "kx%04X.tmp",
                  static_cast<unsigned>((seed + attempt * 40503u) & 0xFFFF));
    std::string candidate = directory + name;
    HANDLE file = CreateFileA(candidate.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
      *temp_name = candidate;
      return file;
    }
  }
  return INVALID_HANDLE_VALUE;
}

// Overwrites the file with `contents`; the fallback when no temporary file can be created
// beside it.
WriteResult OverwriteInPlace(const std::string& path, std::string_view contents,
                             FileStamp* expected) {
  Handle file(Open(path, GENERIC_WRITE, OPEN_EXISTING));
  if (!file.ok()) {
    return IsMissingError(GetLastError()) ? WriteResult::kChanged : WriteResult::kFailed;
  }
  if (ToStamp(file.get()) != *expected) return WriteResult::kChanged;
  if (!WriteAll(file.get(), contents, 0) || !CutAt(file.get(), contents.size())) {
    return WriteResult::kFailed;
  }
  FileStamp after = ToStamp(file.get());
  if (after.kind != FileKind::kRegular || !file.Close()) return WriteResult::kFailed;
  *expected = after;
  return WriteResult::kDone;
}

}  // namespace

FileStamp StatFile(const std::string& path) {
  // Backup semantics open directories as well, so that they are told from missing files.
  Handle file(Open(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  if (!file.ok()) {
    FileStamp stamp;
    stamp.kind = IsMissingError(GetLastError()) ? FileKind::kMissing : FileKind::kOther;
    return stamp;
  }
  return ToStamp(file.get());
}

WriteResult WriteAt(const std::string& path, FileStamp* expected, std::uint64_t offset,
                    std::string_view data, bool cut) {
  bool create = expected->kind == FileKind::kMissing;
  Handle file(Open(path, GENERIC_READ | GENERIC_WRITE, create ? OPEN_ALWAYS : OPEN_EXISTING));
  if (!file.ok()) {
    return !create && IsMissingError(GetLastError()) ? WriteResult::kChanged : WriteResult::kFailed;
  }
  DWORD attributes = 0;
  FileStamp before = ToStamp(file.get(), &attributes);
  // A read-only file is refused even where the open for writing was let through (Wine, for
  // a privileged user).
  if (before.kind != FileKind::kRegular || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return WriteResult::kFailed;
  }
  if (create ? before.size != 0 : before != *expected) return WriteResult::kChanged;
  std::uint64_t end = offset + data.size();
  // The bytes the write covers, so that a write that breaks off (a full disk) can be undone
  // and the file keeps its last complete item.
  std::string old_tail;
  if (offset < before.size) {
    old_tail.resize(static_cast<size_t>(before.size - offset));
    if (!SeekTo(file.get(), offset) ||
        ReadFully(file.get(), &old_tail[0], old_tail.size()) != old_tail.size()) {
      return WriteResult::kFailed;
    }
  }
  if (!WriteAll(file.get(), data, offset)) {
    if (!old_tail.empty()) WriteAll(file.get(), old_tail, offset);
    CutAt(file.get(), before.size);
    return WriteResult::kFailed;
  }
  if (cut && before.size > end && !CutAt(file.get(), end)) return WriteResult::kFailed;
  FileStamp after = ToStamp(file.get());
  if (after.kind != FileKind::kRegular || !file.Close()) return WriteResult::kFailed;
  *expected = after;
  return WriteResult::kDone;
}

WriteResult ReplaceContents(const std::string& path, FileStamp* expected,
                            std::string_view contents) {
  std::string target;
  DWORD attributes = 0;
  {
    // Opening the file for writing checks that it may be written at all; it stays untouched.
    Handle file(Open(path, GENERIC_WRITE, OPEN_EXISTING));
    if (!file.ok()) {
      return IsMissingError(GetLastError()) ? WriteResult::kChanged : WriteResult::kFailed;
    }
    if (ToStamp(file.get(), &attributes) != *expected) return WriteResult::kChanged;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return WriteResult::kFailed;
    target = FinalTarget(path, file.get());
  }

  std::string temp_name;
  Handle temp(CreateTempBeside(target, &temp_name));
  if (!temp.ok()) {
    if (GetLastError() == ERROR_ACCESS_DENIED) return OverwriteInPlace(target, contents, expected);
    return WriteResult::kFailed;
  }
  bool ok = WriteAll(temp.get(), contents, 0) && FlushFileBuffers(temp.get());
  DWORD keep = attributes & kSettableAttributes;
  ok = ok && (keep == 0 || SetFileAttributesA(temp_name.c_str(), keep));
  ok = ok && MoveFileExA(temp_name.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) {
    temp.Close();
    DeleteFileA(temp_name.c_str());
    return WriteResult::kFailed;
  }
  // Renaming changes the file's change time, so its state is taken after the rename.
  FileStamp after = ToStamp(temp.get());
  if (after.kind != FileKind::kRegular || !temp.Close()) return WriteResult::kFailed;
  *expected = after;
  return WriteResult::kDone;
}

}  // namespace inifile
