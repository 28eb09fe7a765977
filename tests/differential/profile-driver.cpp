// Drives the Windows profile functions (GetPrivateProfileStringA, WritePrivateProfileStringA with
// its flush call), the oracle that the tool's INI items are held to: the differential test runs
// the engine and this driver through the same sequences, and the end-to-end tests read back
// through it what Keepxfer.exe wrote. It reads commands from standard input, one a line, each
// field hex-encoded bytes ("-" for none):
//   W <file> <section> <key> <value>   prints 1 or 0, what the write answered
//   R <file> <section> <key>           prints +<value> when found, - when absent
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

namespace {

constexpr DWORD kBufferSize = 2048;

// Defaults no INI file is expected to hold. The profile functions give a default back when the
// item is absent; an item that does hold the first one is told apart by the second.
const char kAbsent1[] = "\x01<keepxfer: no such item>\x02";
const char kAbsent2[] = "\x02<keepxfer: no such item>\x01";

std::string Query(const std::string& file, const std::string& section, const std::string& key,
                  const char* fallback) {
  char buffer[kBufferSize];
  DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback, buffer,
                                          kBufferSize, file.c_str());
  return std::string(buffer, length);
}

bool ProfileRead(const std::string& file, const std::string& section, const std::string& key,
                 std::string* value) {
  std::string found = Query(file, section, key, kAbsent1);
  if (found == kAbsent1) {
    found = Query(file, section, key, kAbsent2);
    if (found == kAbsent2) return false;
  }
  *value = found;
  return true;
}

bool ProfileWrite(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& value) {
  if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str())) {
    return false;
  }
  // The flush call reports FALSE by design; its result tells nothing.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());
  return true;
}

std::string Decode(const std::string& field) {
  std::string bytes;
  if (field == "-") return bytes;
  for (std::size_t i = 0; i + 1 < field.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(field.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

std::string Encode(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string field;
  for (unsigned char c : bytes) {
    field += kHex[c >> 4];
    field += kHex[c & 15];
  }
  return field;
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string op, file, section, key, value;
    in >> op >> file >> section >> key >> value;
    if (op == "W") {
      bool ok = ProfileWrite(Decode(file), Decode(section), Decode(key), Decode(value));
      std::printf("%d\n", ok ? 1 : 0);
    } else if (op == "R") {
      std::string found;
      if (ProfileRead(Decode(file), Decode(section), Decode(key), &found)) {
        std::printf("+%s\n", Encode(found).c_str());
      } else {
        std::printf("-\n");
      }
    } else {
      std::printf("?\n");
    }
  }
  return 0;
}
