// Process services through the Win32 API.
#include "platform/process.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "win32/handle.h"
#include "win32/path.h"
#include "win32/temp-file.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::string ProcessCommandLine() { return GetCommandLineA(); }

std::string ProgramFileName() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD length = GetModuleFileNameA(nullptr, buffer.data(), size);
    if (length == 0) return "Keepxfer.exe";
    // A name that fills the whole buffer may have been cut short.
    if (length < size) return std::string(buffer.data(), length);
    if (buffer.size() >= 0x10000) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

char PathSeparator() { return '\\'; }

bool IsAbsolutePath(const std::string& path) {
  if (!path.empty() && IsSeparator(path[0])) return true;  // rooted or UNC
  return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && IsSeparator(path[2]);
}

std::string WhyNoFileName(const std::string& name) {
  std::size_t from = name.compare(0, 4, "\\\\?\\") == 0 ? 4 : 0;
  if (name.size() >= from + 2 && IsDriveLetter(name[from]) && name[from + 1] == ':') {
    if (name.size() == from + 2 || !IsSeparator(name[from + 2])) {
      return std::string("a drive without a folder names the drive's current folder (write ") +
             name[from] + ":\\" + name.substr(from + 2) + ", or the name alone)";
    }
    from += 2;
  }
  if (name.find(':', from) != std::string::npos) return "a ':' names a stream of another file";
  return "";
}

bool StdoutIsConsole() { return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR; }

namespace {

// Writes the ANSI text `ansi` to `console` as the characters it stands for, so that a console that
// shows another code page (the OEM one) shows the names as they are; false when `console` is no
// console, or with the error set when a write fails.
bool WriteToConsole(HANDLE console, const std::string& ansi, DWORD* error) {
  DWORD mode = 0;
  if (!GetConsoleMode(console, &mode)) return false;
  *error = 0;
  const std::wstring wide = Widen(ansi);
  std::size_t done = 0;
  while (done < wide.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + done, chunk, &written, nullptr) || written == 0) {
      *error = GetLastError();
      return true;
    }
    done += written;
  }
  return true;
}

}  // namespace

int WriteStdout(const std::string& bytes) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD error = 0;
  // A console gets characters; a file or a pipe the bytes, as they are.
  if (WriteToConsole(out, bytes, &error)) return static_cast<int>(error);
  return static_cast<int>(WriteAll(out, bytes));
}

void WriteStderrReport(const std::string& text) {
  if (text.empty()) return;
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD error = 0;
  if (WriteToConsole(err, text, &error)) return;
  std::string oem(text.size(), '\0');
  if (!CharToOemBuffA(text.data(), &oem[0], static_cast<DWORD>(text.size()))) oem = text;
  WriteAll(err, oem);
}

std::uintptr_t ModuleOffset(std::uintptr_t address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(address), &module)) {
    module = GetModuleHandleA(nullptr);
  }
  std::uintptr_t base = reinterpret_cast<std::uintptr_t>(module);
  return address >= base ? address - base : address;
}

std::string ProgramFileNameForReport() { return ProgramFileName(); }

void InitProcess(int, char**) {
  // Errors of a removable or network drive come back as error codes, not as message boxes.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // Ctrl-C, Ctrl-Break and a closed console take this run's temporary files along.
  InstallTempFileCleanup();
}
