#include "win32/path.h"

#include <windows.h>

#include <vector>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wstring(prefix).size(), prefix) == 0;
}

}  // namespace

std::wstring Widen(const std::string& ansi) {
  if (ansi.empty()) return std::wstring();
  const int size = static_cast<int>(ansi.size());
  int count = MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  std::wstring wide(count > 0 ? static_cast<std::size_t>(count) : 0, L'\0');
  if (count > 0) MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, &wide[0], count);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  int count = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string ansi(count > 0 ? static_cast<std::size_t>(count) : 0, '\0');
  if (count > 0)
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, &ansi[0], count, nullptr, nullptr);
  return ansi;
}

std::wstring LongPath(const std::string& name) { return LongPath(Widen(name)); }

std::wstring LongPath(const std::wstring& name) {
  if (StartsWith(name, L"\\\\?\\")) return name;
  std::vector<wchar_t> full(MAX_PATH);
  for (;;) {
    DWORD length =
        GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return name;
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length + 1);
  }
  std::wstring path(full.begin(), full.end());
  if (StartsWith(path, L"\\\\.\\")) return path;  // a device: no file name to lengthen
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    return L"\\\\?\\UNC\\" + path.substr(2);
  }
  return L"\\\\?\\" + path;
}

std::wstring FolderOf(const std::wstring& path) {
  std::size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

std::wstring LeafOf(const std::wstring& path) { return path.substr(FolderOf(path).size()); }
