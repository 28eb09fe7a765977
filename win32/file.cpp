#include "win32/file.h"

#include "win32/held.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

HANDLE OpenWaiting(const std::wstring& path, DWORD rights, DWORD flags) {
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = RetryWhileHeld(path, [&]() -> DWORD {
    file = CreateFileW(path.c_str(), rights, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    return file != INVALID_HANDLE_VALUE ? 0 : GetLastError();
  });
  SetLastError(error);
  return file;
}

bool Identify(HANDLE file, DWORD* volume, std::uint64_t* index, DWORD* attributes) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  *volume = info.dwVolumeSerialNumber;
  *index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  return true;
}

DWORD ReadSome(HANDLE file, char* buffer, DWORD size, DWORD* got) {
  return RetryWhileHeld(std::wstring(), [&]() -> DWORD {
    return ReadFile(file, buffer, size, got, nullptr) ? 0 : GetLastError();
  });
}

bool ReadAll(HANDLE file, std::string* bytes) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) ||
      !SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
    return false;
  }
  bytes->resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes->size()) {
    DWORD got = 0;
    std::size_t left = bytes->size() - done;
    DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    if (DWORD error = ReadSome(file, &(*bytes)[done], chunk, &got)) {
      SetLastError(error);
      return false;
    }
    if (got == 0) break;
    done += got;
  }
  bytes->resize(done);
  return true;
}

DWORD SetSize(HANDLE file, std::uint64_t size) {
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) ? 0 : GetLastError();
}
