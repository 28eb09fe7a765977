#include "win32/turn.h"

#include <cstdint>
#include <map>

namespace {

// The byte that runs lock, far beyond any file's end.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

OVERLAPPED LockedByte() {
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  return at;
}

// The mutex of a file, one per kind and name, kept for the run. Names of one file in other letter
// case, or in the short 8.3 form, are one name.
HANDLE MutexOf(const wchar_t* kind, const std::wstring& path) {
  static std::map<std::wstring, HANDLE> mutexes;
  std::wstring key(32768, L'\0');
  DWORD length = GetLongPathNameW(path.c_str(), &key[0], static_cast<DWORD>(key.size()));
  key.resize(length > 0 && length < 32768 ? length : 0);
  if (key.empty()) key = path;
  CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
  key = std::wstring(kind) + L":" + key;
  HANDLE& mutex = mutexes[key];
  if (mutex == nullptr) {
    std::uint64_t hash = 14695981039346656037ull;
    for (wchar_t c : key) {
      hash ^= static_cast<std::uint16_t>(c);
      hash *= 1099511628211ull;
    }
    std::wstring name = std::wstring(L"Local\\Keepxfer.") + kind + L".";
    for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 15];
    mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  }
  return mutex;
}

}  // namespace

bool LockTurn(HANDLE file, bool exclusive) {
  OVERLAPPED at = LockedByte();
  return LockFileEx(file, exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0, &at) != 0;
}

void UnlockTurn(HANDLE file) {
  OVERLAPPED at = LockedByte();
  UnlockFileEx(file, 0, 1, 0, &at);
}

Turn::Turn(const wchar_t* kind, const std::wstring& path) {
  HANDLE mutex = MutexOf(kind, path);
  if (mutex == nullptr) return;
  DWORD waited = WaitForSingleObject(mutex, INFINITE);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) mutex_ = mutex;
}

Turn::~Turn() { End(); }

void Turn::End() {
  if (mutex_ != nullptr) ReleaseMutex(mutex_);
  mutex_ = nullptr;
}
