// What the fuzz targets share: failure reports, readable dumps of byte strings, and a scratch
// directory for the units that work on real files.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzz {

// Reports a broken property and aborts, which libFuzzer records as a crash with its input.
[[noreturn]] inline void Fail(const char* condition, const std::string& details) {
  std::fprintf(stderr, "\n==== fuzz check failed: %s\n%s\n", condition, details.c_str());
  std::fflush(stderr);
  std::abort();
}

// The details are only worked out when the check fails.
#define FUZZ_CHECK(condition, details)                     \
  do {                                                     \
    if (!(condition)) ::fuzz::Fail(#condition, (details)); \
  } while (0)

// A byte string as a C literal, so that a report shows blanks, controls and high bytes.
inline std::string Show(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out + "\"";
}

// A private directory for the run, in memory where /dev/shm is usable, removed at exit. Its
// name lives in a plain array, which is still there when the exit handler runs.
inline const char* ScratchDir() {
  static char dir[4096] = "";
  if (dir[0] != '\0') return dir;
  std::string base = "/dev/shm";
  if (access(base.c_str(), W_OK | X_OK) != 0) {
    const char* tmp = std::getenv("TMPDIR");
    base = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  }
  std::string pattern = base + "/keepxfer-fuzz-XXXXXX";
  if (pattern.size() >= sizeof dir || mkdtemp(&pattern[0]) == nullptr) {
    Fail("mkdtemp", "no scratch directory under " + base);
  }
  pattern.copy(dir, pattern.size());
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  });
  return dir;
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  FUZZ_CHECK(out.good(), "cannot write " + path);
}

// False when the file cannot be opened (a missing file, above all).
inline bool ReadBytes(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace fuzz
