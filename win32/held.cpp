#include "win32/held.h"

#include "win32/handle.h"

namespace {

// 25 ms, 50 ms, ... 300 ms: 1.95 s in all.
constexpr DWORD kStep = 25;
constexpr DWORD kTries = 12;

}  // namespace

bool MayBeHeldByAnother(DWORD error, const std::wstring& path) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return false;
  }
  // Refused even with every kind of sharing allowed: this user may not, whoever holds it.
  Handle probe(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return probe.ok() || GetLastError() == ERROR_SHARING_VIOLATION;
}

DWORD RetryWhileHeld(const std::wstring& path, const std::function<DWORD()>& attempt) {
  DWORD error = attempt();
  for (DWORD n = 1; n <= kTries && error != 0 && MayBeHeldByAnother(error, path); ++n) {
    Sleep(kStep * n);
    error = attempt();
  }
  return error;
}

DWORD HeldWaitMilliseconds() { return kStep * kTries * (kTries + 1) / 2; }
