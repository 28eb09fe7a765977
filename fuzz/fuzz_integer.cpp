// Integer conversion of INI values against a second reading of its rules.
//
// The reference below works on the digit text rather than by accumulating a number: after
// leading zeros are dropped, a decimal fits when it is shorter than the limit's digits, or as
// long and not greater as text; a hexadecimal fits in at most 8 digits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/Errors.h"
#include "fuzz/FuzzSupport.h"
#include "lib/ConvertU.h"

namespace {

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHexDigit(char c) {
  return IsDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

struct Expected {
  bool valid = false;
  std::int32_t value = 0;
};

Expected Reference(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] != '\0' && static_cast<unsigned char>(text[i]) <= 32) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';

  std::string rest = text.substr(i);
  bool hex = false;
  if (!rest.empty() && (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X')) {
    hex = true;
    rest.erase(0, 1);
  } else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    hex = true;
    rest.erase(0, 2);
  }
  if (rest.empty()) return {};
  for (char c : rest) {
    if (!(hex ? IsHexDigit(c) : IsDecimalDigit(c))) return {};
  }
  std::string digits = rest.substr(std::min(rest.find_first_not_of('0'), rest.size()));

  std::uint32_t magnitude = 0;
  if (hex) {
    if (digits.size() > 8) return {};
    unsigned parsed = 0;
    if (!digits.empty()) std::sscanf(digits.c_str(), "%x", &parsed);
    magnitude = parsed;
  } else {
    const std::string limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit)) {
      return {};
    }
    for (char c : digits) magnitude = magnitude * 10 + static_cast<std::uint32_t>(c - '0');
  }
  // A sign applies to the 32 bits, hexadecimal ones included.
  std::uint32_t bits = negative ? 0u - magnitude : magnitude;
  return {true, static_cast<std::int32_t>(bits)};
}

void CheckText(const std::string& text) {
  const Expected expected = Reference(text);
  std::int32_t value = 0x5A5A5A5A;
  const bool valid = TryTextToInt(text, &value);
  FUZZ_CHECK(valid == expected.valid,
             "TryTextToInt(" + fuzz::Show(text) + ") answered " + (valid ? "true" : "false"));
  if (valid) {
    FUZZ_CHECK(value == expected.value, "TryTextToInt(" + fuzz::Show(text) + ") gave " +
                                            std::to_string(value) + ", expected " +
                                            std::to_string(expected.value));
  } else {
    FUZZ_CHECK(value == 0x5A5A5A5A, "a failed TryTextToInt(" + fuzz::Show(text) +
                                        ") changed the value to " + std::to_string(value));
  }

  bool raised = false;
  std::int32_t converted = 0;
  try {
    converted = TextToInt(text);
  } catch (const ToolError& e) {
    raised = true;
    FUZZ_CHECK(std::string(e.Kind()) == kConvertError, "TextToInt raised " + std::string(e.Kind()));
    FUZZ_CHECK(e.Message() == "'" + text + "' is not a valid integer value",
               "TextToInt's message " + fuzz::Show(e.Message()));
  }
  FUZZ_CHECK(raised == !valid, "TextToInt(" + fuzz::Show(text) + ") " +
                                   (raised ? "raised" : "did not raise") +
                                   " where TryTextToInt answered " + (valid ? "true" : "false"));
  if (!raised) {
    FUZZ_CHECK(converted == value, "TextToInt and TryTextToInt differ on " + fuzz::Show(text));
  }
}

// The texts the exporter writes, and the hexadecimal forms people type, read back as the number.
void CheckNumberForms(std::uint32_t bits) {
  const std::int32_t number = static_cast<std::int32_t>(bits);
  char hex[32];
  std::snprintf(hex, sizeof hex, "$%08X", static_cast<unsigned>(bits));
  for (const std::string& text :
       {IntToText(number), std::string(hex), std::string("0x") + (hex + 1)}) {
    std::int32_t value = 0;
    FUZZ_CHECK(TryTextToInt(text, &value) && value == number,
               fuzz::Show(text) + " does not read back as " + std::to_string(number));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckText(text);
  if (size >= 4) {
    CheckNumberForms(
        static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
        static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24);
  }
  return 0;
}
