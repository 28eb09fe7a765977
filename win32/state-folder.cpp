#include "win32/state-folder.h"

#include <windows.h>

#include "win32/path.h"

namespace {

// %LOCALAPPDATA%, or the temporary folder; empty when not known.
std::wstring Base(StatePlace place) {
  if (place == StatePlace::kStateFolder) {
    wchar_t local[32768];
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, 32768);
    if (length == 0 || length >= 32768) return L"";
    return std::wstring(local, length);
  }
  wchar_t temp[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return L"";
  return std::wstring(temp, length);
}

// Makes `folder` unless it is there.
bool Make(const std::wstring& folder, unsigned long* error) {
  if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
    return true;
  }
  if (error != nullptr) *error = GetLastError();
  return false;
}

}  // namespace

std::wstring StateFolder(StatePlace place, const std::wstring& sub, bool make,
                         unsigned long* error) {
  std::wstring folder = Base(place);
  if (folder.empty()) {
    if (error != nullptr) *error = ERROR_PATH_NOT_FOUND;
    return folder;
  }
  folder = LongPath(folder);
  if (folder.back() != L'\\') folder += L'\\';
  folder += L"Keepxfer\\";
  if (make && !Make(folder, error)) return folder;
  if (sub.empty()) return folder;
  folder += sub + L"\\";
  if (make) Make(folder, error);
  return folder;
}
