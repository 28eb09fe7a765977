// Drives the Windows profile functions, through the same calls Keepxfer.exe makes, for the
// differential test of the native INI engine. It reads commands from standard input, one a
// line, each field hex-encoded bytes ("-" for none):
//   W <file> <section> <key> <value>   prints 1 or 0, what the write answered
//   R <file> <section> <key>           prints +<value> when found, - when absent
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/profile.h"

namespace {

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
