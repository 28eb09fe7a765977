// UTF-8 and UTF-16, as the INI text and the reader of Wine's registry files both need them: code
// points to UTF-8 and to UTF-16 code units, a strict UTF-8 decoder, and UTF-16 code units to UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Appends the UTF-8 bytes of `code_point` (up to U+10FFFF; a surrogate gets the three bytes that
// UTF-8 would give it).
void AppendUtf8(std::uint32_t code_point, std::string* out);

// Appends the UTF-16 code units of `code_point`: a pair beyond U+FFFF.
void AppendUtf16(std::uint32_t code_point, std::u16string* out);

// Decodes the UTF-8 sequence whose lead byte (above 127) is text[*pos], moving *pos past the
// bytes it uses. False for a stray continuation byte, a sequence cut short, an overlong form or a
// code point beyond U+10FFFF; the bytes looked at up to the fault are then used up. A surrogate's
// form is taken as that surrogate.
bool DecodeUtf8(std::string_view text, std::size_t* pos, std::uint32_t* code_point);

inline bool IsSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// UTF-16 code units as UTF-8 text, a pair of surrogates as the one character it stands for; a
// surrogate that stands alone becomes its own three bytes, or U+FFFD with `replace_lone`.
std::string Utf16ToUtf8(std::u16string_view units, bool replace_lone);
