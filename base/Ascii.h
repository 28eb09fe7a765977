// Character rules shared by every layer: ASCII letter case, and the blanks of INI files. The
// export's quote protection and the INI text's trimming must agree on the blanks exactly, or a
// name would not come back from a round trip as it went out.
#pragma once

#include <string>
#include <string_view>

namespace ascii {

inline char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}
inline char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

inline std::string Lower(std::string text) {
  for (char& c : text) c = Lower(c);
  return text;
}

inline std::string Upper(std::string text) {
  for (char& c : text) c = Upper(c);
  return text;
}

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// What the Windows profile functions trim around names and values: 0x09-0x0D, 0x20 and 0x1A.
inline bool IsIniBlank(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 0x09 && u <= 0x0D) || u == 0x20 || u == 0x1A;
}

// Space and the control characters, codes 1 to 32: what separates command-line items, and what
// may stand before a number.
inline bool IsSpaceOrControl(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

}  // namespace ascii
