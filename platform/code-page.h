// The ANSI code page of the user's locale, which is what the tool's 8-bit names are in, and the
// conversions between it and UTF-16, as the profile functions make them: through the Windows API
// on Windows (Windows' own best fits), natively through the C library's tables and what was
// measured of Windows beyond them.
#pragma once

#include <string>
#include <string_view>

#include "ini/text.h"

// The ANSI code page: GetACP() on Windows. Natively, the one Wine uses for the user's locale: the
// locale of LC_ALL, LC_CTYPE or LANG (the first set), if it is installed; else, Wine takes LC_ALL
// as it is; a locale name it does not know, C and POSIX give 1252. Locales without an ANSI code
// page give UTF-8 (65001).
unsigned AnsiCodePage();

// Natively, the same for a given environment (tests).
unsigned AnsiCodePageFor(const char* lc_all, const char* lc_ctype, const char* lang);

// The 8-bit text `ansi` of the code page as UTF-8 text (ini/text.h); a byte without a character
// of its own reads as Windows reads it.
std::string AnsiToText(std::string_view ansi, unsigned code_page);

// UTF-16 code units in the code page: a character that it cannot hold becomes the one Windows puts
// in its place (its best fit), or "?" for each code unit it takes.
std::string UnitsToAnsi(std::u16string_view units, unsigned code_page);

// UTF-8 text in the code page, as the profile functions convert it: decoded as Windows decodes
// UTF-8 (ini/text.h; with `from_utf16`, the three-byte forms of lone surrogates are those
// surrogates: text that came from a UTF-16 file), then converted as UnitsToAnsi does.
inline std::string TextToAnsi(std::string_view text, bool from_utf16, unsigned code_page) {
  return UnitsToAnsi(TextToUnits(text, from_utf16), code_page);
}
