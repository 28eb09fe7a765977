// Running programs on Windows: the process snapshot, and each process's image file name.
#include "platform/running.h"

#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "win32/handle.h"

namespace {

// The user a process runs as; empty when it cannot be told.
std::vector<BYTE> UserOf(HANDLE process) {
  HANDLE raw = nullptr;
  std::vector<BYTE> user;
  if (!OpenProcessToken(process, TOKEN_QUERY, &raw)) return user;
  Handle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return user;
  user.resize(size);
  if (!GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) user.clear();
  return user;
}

bool SameUser(const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
  if (a.empty() || b.empty()) return false;
  return EqualSid(reinterpret_cast<const TOKEN_USER*>(a.data())->User.Sid,
                  reinterpret_cast<const TOKEN_USER*>(b.data())->User.Sid) != 0;
}

}  // namespace

bool IsProgramRunningFrom(const std::string& folder) {
  const std::vector<BYTE> me = UserOf(GetCurrentProcess());
  Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.ok()) return false;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self || entry.th32ProcessID == 0) continue;
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process.ok() || !SameUser(UserOf(process.get()), me)) continue;
    char name[MAX_PATH * 4];
    DWORD size = sizeof name;
    if (!QueryFullProcessImageNameA(process.get(), 0, name, &size)) continue;
    if (IsDirectlyInFolder(std::string(name, size), folder)) return true;
  }
  return false;
}
