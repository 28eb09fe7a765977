#include "win32/turn.h"

#include <cstdint>
#include <map>
#include <vector>

#include "base/Errors.h"
#include "win32/handle.h"

namespace {

MutexCalls g_calls = {CreateMutexW, OpenMutexW};

// The byte that runs lock, far beyond any file's end.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

OVERLAPPED LockedByte() {
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  return at;
}

// A security descriptor that lets this run's user (and nobody else) do all with an object.
class UserOnly {
 public:
  UserOnly() {
    Handle token;
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return;
    token.Reset(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    user_.resize(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user_.data(), size, &size)) {
      return;
    }
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    ACL* acl = reinterpret_cast<ACL*>(acl_.data());
    if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, sid) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) {
      return;
    }
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
    ok_ = true;
  }
  UserOnly(const UserOnly&) = delete;
  UserOnly& operator=(const UserOnly&) = delete;

  // The attributes to make an object with; null (the default security) where they could not
  // be had.
  SECURITY_ATTRIBUTES* attributes() { return ok_ ? &attributes_ : nullptr; }

 private:
  std::vector<unsigned char> user_;
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
  bool ok_ = false;
};

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
    // Made so that every run of this user may wait for it, an elevated one's too (whose default
    // security would let only administrators in); made by a run that left others out, it is
    // opened for waiting.
    UserOnly security;
    mutex = g_calls.create(security.attributes(), FALSE, name.c_str());
    if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
      mutex = g_calls.open(SYNCHRONIZE, FALSE, name.c_str());
    }
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
  if (mutex == nullptr) RaiseInOutError(static_cast<int>(GetLastError()));
  DWORD waited = WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    RaiseInOutError(static_cast<int>(GetLastError()));
  }
  mutex_ = mutex;
}

ScopedMutexCalls::ScopedMutexCalls(const MutexCalls& calls) : saved_(g_calls) { g_calls = calls; }
ScopedMutexCalls::~ScopedMutexCalls() { g_calls = saved_; }

Turn::~Turn() { End(); }

void Turn::End() {
  if (mutex_ != nullptr) ReleaseMutex(mutex_);
  mutex_ = nullptr;
}
