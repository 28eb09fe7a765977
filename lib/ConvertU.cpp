#include "lib/ConvertU.h"

#include "base/Ascii.h"
#include "base/Errors.h"

std::string BoolToYN(std::int32_t flag) { return flag != 0 ? "Y" : "N"; }

std::int32_t YNToBool(const std::string& text) { return ascii::Upper(text) == "Y" ? 1 : 0; }

bool TryYNToBool(const std::string& text, std::int32_t* flag) {
  const std::string upper = ascii::Upper(text);
  if (upper != "Y" && upper != "N") return false;
  *flag = upper == "Y" ? 1 : 0;
  return true;
}

std::string IntToText(std::int32_t value) { return std::to_string(value); }

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool TryTextToInt(const std::string& text, std::int32_t* value) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && ascii::IsSpaceOrControl(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i < n && (text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;

  std::uint64_t magnitude = 0;
  for (; i < n; ++i) {
    int digit = hex ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) return false;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    if (magnitude > (hex ? 0xFFFFFFFFull : 0x80000000ull)) return false;
  }
  std::uint32_t bits;
  if (hex) {
    bits = static_cast<std::uint32_t>(magnitude);
  } else {
    if (!negative && magnitude > 0x7FFFFFFFull) return false;
    bits = static_cast<std::uint32_t>(magnitude);
  }
  if (negative) bits = 0u - bits;
  *value = static_cast<std::int32_t>(bits);
  return true;
}

std::string NotAnInteger(const std::string& text) {
  return "'" + text + "' is not a valid integer value";
}

std::int32_t TextToInt(const std::string& text) {
  std::int32_t value = 0;
  if (!TryTextToInt(text, &value)) RaiseError(kConvertError, NotAnInteger(text));
  return value;
}
