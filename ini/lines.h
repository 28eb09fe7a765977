// The lines of INI files as the Windows profile functions see them: a line ends at any run of CR
// and LF; blanks (0x09-0x0D, 0x20 and 0x1A) are trimmed at both ends; a trimmed line that starts
// with '[' and holds a ']' names a section, up to its last ']'; any other line is a key, split at
// its first '='. Names and values end at a NUL byte, as they do in the Windows calls, which take
// them as C strings.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/Ascii.h"

namespace ini {

// GetPrivateProfileStringA with a 2048-character buffer returns at most this many.
constexpr std::size_t kMaxValueLength = 2047;

inline bool IsBlank(char c) { return ascii::IsIniBlank(c); }
inline bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

std::string_view TrimLeft(std::string_view s);
std::string_view Trim(std::string_view s);
inline std::string_view CutAtNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// The trimmed text of the line whose first non-blank character is at `begin`.
std::string_view LineText(std::string_view content, std::size_t begin);

// For a trimmed line: whether it is a section line, and its section name.
bool IsSectionLine(std::string_view line, std::string_view* name);

// The key of a trimmed line that is not a section line; what stands before a NUL keeps its
// blanks.
std::string_view KeyOf(std::string_view line);

// The value of a trimmed key line: behind its first '=', trimmed, cut at a NUL. False for a line
// without '=', which reads as absent.
bool ValueOf(std::string_view line, std::string_view* value);

// A value as GetPrivateProfileStringA gives it into its buffer of 2048 characters: freed of one
// enclosing pair of matching quotes (" or '), at most 2047 characters. The copy into the buffer
// comes first and the quote goes after it, so that a quoted value whose inside has exactly 2047
// characters loses its last one, as it does there. `View` is a string view of 8-bit text or of
// UTF-16 code units.
template <typename View>
View Unquoted(View v) {
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
    View inside = v.substr(1);  // with the closing quote
    View copy = inside.substr(0, kMaxValueLength);
    if (inside.size() <= kMaxValueLength + 1) copy.remove_suffix(1);
    return copy;
  }
  return v.substr(0, kMaxValueLength);
}

}  // namespace ini
