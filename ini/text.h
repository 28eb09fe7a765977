// The text of INI files as the Windows profile functions read and write it: the file's encoding,
// told by its byte-order mark, and UTF-16 and UTF-8 as Windows decodes them.
//
// The INI library parses every file as 8-bit text: an ANSI file as it is, a UTF-8 file as its
// bytes, and a UTF-16 file turned into UTF-8 first (each code unit kept, so that it turns back
// exactly). The characters that make the structure (line ends, blanks, "[", "]", "=", quotes)
// are ASCII in all of them, so the structure is the one Windows sees in the decoded text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class IniEncoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

// The encoding of a file that begins with `bytes`, and the size of its byte-order mark. With
// `markless_utf8` (`bytes` then being the whole file), a file without a mark that is valid UTF-8
// as a whole and holds a character beyond ASCII is UTF-8 too, with a mark of 0 bytes: what an
// editor saves as "UTF-8" without a mark.
IniEncoding DetectEncoding(std::string_view bytes, std::size_t* mark, bool markless_utf8 = false);

// Whether `text` is valid UTF-8 (shortest forms, no surrogates, nothing beyond U+10FFFF) and holds
// at least one character beyond ASCII.
bool IsUtf8BeyondAscii(std::string_view text);

// The UTF-16 text `bytes` (after the mark; an odd last byte is no part of it) as UTF-8, a lone
// surrogate in the three bytes that UTF-8 would give it.
std::string Utf16ToText(std::string_view bytes, bool big_endian);

// The inverse of Utf16ToText.
std::string TextToUtf16(std::string_view text, bool big_endian);

// The UTF-16 code units of UTF-8 text, decoded as above.
std::u16string TextToUnits(std::string_view text, bool from_utf16);

// UTF-8 text of UTF-16 code units (a lone surrogate in three bytes).
std::string UnitsToText(std::u16string_view units);
