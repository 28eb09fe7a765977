// Text forms of flags and numbers used by the exchange file.
#pragma once

#include <cstdint>
#include <string>

// "Y" for any non-zero flag, "N" for 0.
std::string BoolToYN(std::int32_t flag);

// 1 exactly when the text, ASCII letters upper-cased, is "Y"; else 0.
std::int32_t YNToBool(const std::string& text);

// "Y" or "N" in either letter case as 1 or 0; false for any other text.
bool TryYNToBool(const std::string& text, std::int32_t* flag);

// Decimal, with a leading "-" for negative values.
std::string IntToText(std::int32_t value);

// Integer conversion of an INI value: leading blanks, an optional sign, then
// decimal digits within the signed 32-bit range, or up to 32 bits of
// hexadecimal digits behind "$", "x" or "0x" (either case), wrapping into
// negative values. Anything else raises EConvertError
// "'<text>' is not a valid integer value".
std::int32_t TextToInt(const std::string& text);

// The same rules; false instead of the raise.
bool TryTextToInt(const std::string& text, std::int32_t* value);

// The message of a text that is no integer: "'<text>' is not a valid integer value".
std::string NotAnInteger(const std::string& text);
