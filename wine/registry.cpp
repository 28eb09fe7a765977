#include "wine/registry.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "base/utf.h"

// The reader follows wineserver's loader line by line, so that the tool sees
// exactly the values that a program running in the prefix would see:
// - the first line must be the header, or nothing in the file counts;
// - a key line `[name] stamp` opens a block; a malformed key line (no `]`, or a
//   name that starts with a backslash) leaves no block open, and value lines
//   without an open block are ignored;
// - in a block, `"name"=DATA` or `@=DATA` sets the value; a later line for the
//   same value of the same key replaces it, even in another block of that key;
// - a value line whose name is malformed is ignored; one whose data is
//   malformed leaves the value present but empty;
// - before the first block, an `#arch=` line with an unknown architecture, or
//   one that contradicts an earlier one, ends the loading (keys already read
//   stay); every other `#` line is ignored;
// - raw bytes above 127 are read as UTF-8 and invalid sequences are dropped.

namespace {

using Units = std::u16string;

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

constexpr char32_t kReplacement = 0xFFFD;

// isspace() of the C locale.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

size_t SkipSpaces(std::string_view s, size_t pos) {
  while (pos < s.size() && IsSpace(s[pos])) ++pos;
  return pos;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The file's lines in order. A line ends at LF and a CR before the LF is
// dropped; a NUL byte ends the line's content, as the server reads lines as C
// strings.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool Next(std::string_view* line) {
    if (pos_ >= text_.size()) return false;
    size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    std::string_view result = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (!result.empty() && result.back() == '\r') result.remove_suffix(1);
    result = result.substr(0, result.find('\0'));
    *line = result;
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// The letter escapes \a \b \e \f \n \r \t \v; 0 for any other character.
char16_t LetterEscape(char c) {
  static constexpr std::string_view kLetters = "abefnrtv";
  static constexpr char16_t kCodes[] = {0x07, 0x08, 0x1B, 0x0C, 0x0A, 0x0D, 0x09, 0x0B};
  size_t i = kLetters.find(c);
  return i == std::string_view::npos ? 0 : kCodes[i];
}

// Parses an escaped string from s[*pos] up to the first unescaped `endchar`,
// appending its UTF-16 units to `out`, and moves *pos past `endchar`. Answers
// false when `endchar` never comes.
bool ParseEscaped(std::string_view s, size_t* pos, char endchar, Units* out) {
  size_t p = *pos;
  while (p < s.size() && s[p] != endchar) {
    if (s[p] == '\\') {
      ++p;
      if (p >= s.size()) break;
      char c = s[p];
      if (char16_t letter = LetterEscape(c)) {
        out->push_back(letter);
        ++p;
        continue;
      }
      if (c == 'x') {
        ++p;
        unsigned value = 'x';
        if (p < s.size() && IsHexDigit(s[p])) {
          value = 0;
          for (int i = 0; i < 4 && p < s.size() && IsHexDigit(s[p]); ++i) {
            value = value * 16 + HexValue(s[p++]);
          }
        }
        out->push_back(static_cast<char16_t>(value));
        continue;
      }
      if (c >= '0' && c <= '7') {
        unsigned value = 0;
        for (int i = 0; i < 3 && p < s.size() && s[p] >= '0' && s[p] <= '7'; ++i) {
          value = value * 8 + static_cast<unsigned>(s[p++] - '0');
        }
        out->push_back(static_cast<char16_t>(value));
        continue;
      }
      // Any other escaped character stands for itself.
    }
    unsigned char ch = static_cast<unsigned char>(s[p]);
    if (ch < 0x80) {
      out->push_back(ch);
      ++p;
      continue;
    }
    std::uint32_t cp;
    if (DecodeUtf8(s, &p, &cp)) AppendUtf16(cp, out);
  }
  if (p >= s.size()) return false;
  *pos = p + 1;
  return true;
}

// A name passed in by the caller: UTF-8 up to the first NUL; an invalid
// sequence becomes U+FFFD, so that it matches no name of the file.
Units DecodeRequest(const std::string& text) {
  std::string_view s(text.c_str());
  Units out;
  size_t p = 0;
  while (p < s.size()) {
    unsigned char ch = static_cast<unsigned char>(s[p]);
    if (ch < 0x80) {
      out.push_back(ch);
      ++p;
      continue;
    }
    std::uint32_t cp;
    AppendUtf16(DecodeUtf8(s, &p, &cp) ? cp : kReplacement, &out);
  }
  return out;
}

// Lower case of one UTF-16 unit, for the scripts whose letters have case in
// the Basic Multilingual Plane's common blocks: Latin (with Latin-1, Extended-A
// and Extended Additional), Greek, Cyrillic, Armenian and fullwidth Latin.
char16_t ToLower(char16_t c) {
  auto pair_even_upper = [c]() -> char16_t { return (c & 1) ? c : c + 1; };
  auto pair_odd_upper = [c]() -> char16_t { return (c & 1) ? c + 1 : c; };
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return u'i';
    if (c == 0x178) return 0xFF;
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if ((c >= 0x139 && c <= 0x148) || c >= 0x179) return pair_odd_upper();
    return pair_even_upper();
  }
  if (c >= 0x386 && c <= 0x3AB) {
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return c + 37;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 63;
    if (c >= 0x391 && c != 0x3A2) return c + 32;
    return c;
  }
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F)) {
    return pair_even_upper();
  }
  if (c == 0x4C0) return 0x4CF;
  if (c >= 0x4C1 && c <= 0x4CE) return pair_odd_upper();
  if (c >= 0x531 && c <= 0x556) return c + 48;
  if ((c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF)) return pair_even_upper();
  if (c == 0x1E9E) return 0xDF;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;
  return c;
}

bool NamesEqual(const Units& a, const Units& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToLower(a[i]) != ToLower(b[i])) return false;
  }
  return true;
}

// Splits a key path at backslashes. Runs of backslashes count as one and a
// trailing one is ignored; a path that starts with a backslash is invalid.
bool SplitKeyPath(const Units& path, std::vector<Units>* parts) {
  parts->clear();
  if (!path.empty() && path[0] == u'\\') return false;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == Units::npos) end = path.size();
    if (end > start) parts->push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

bool SameKey(const std::vector<Units>& a, const std::vector<Units>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!NamesEqual(a[i], b[i])) return false;
  }
  return true;
}

// A value as loaded: its type and its data bytes.
struct Value {
  uint32_t type = kRegNone;
  std::vector<uint8_t> data;
};

enum class ParseAs { kString, kHex, kDword };

// strtoul(s + start, &end, 16) of the C library with a 64-bit unsigned long:
// blanks, a sign, an optional 0x and hex digits; an out-of-range number is the
// largest value. *end is `start` when there are no digits.
uint64_t ParseHexNumber(std::string_view s, size_t start, size_t* end) {
  size_t p = SkipSpaces(s, start);
  bool negative = false;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
  if (p + 2 < s.size() && s[p] == '0' && (s[p + 1] == 'x' || s[p + 1] == 'X') &&
      IsHexDigit(s[p + 2])) {
    p += 2;
  }
  if (p >= s.size() || !IsHexDigit(s[p])) {
    *end = start;
    return 0;
  }
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t value = 0;
  bool overflow = false;
  for (; p < s.size() && IsHexDigit(s[p]); ++p) {
    if (value > (kMax >> 4)) overflow = true;
    value = (value << 4) | HexValue(s[p]);
  }
  *end = p;
  if (overflow) return kMax;
  return negative ? 0 - value : value;
}

// Reads the type tag at the start of `data` (for the string forms, up to and
// including the opening quote). Answers the tag's length, or 0 for an unknown
// tag.
size_t ReadTypeTag(std::string_view data, uint32_t* type, ParseAs* parse_as) {
  struct Tag {
    std::string_view text;
    uint32_t type;
    ParseAs parse_as;
  };
  static constexpr Tag kTags[] = {
      {"\"", kRegSz, ParseAs::kString},
      {"str:\"", kRegSz, ParseAs::kString},
      {"str(2):\"", kRegExpandSz, ParseAs::kString},
      {"str(7):\"", kRegMultiSz, ParseAs::kString},
      {"hex:", kRegBinary, ParseAs::kHex},
      {"dword:", kRegDword, ParseAs::kDword},
  };
  for (const Tag& tag : kTags) {
    if (StartsWith(data, tag.text)) {
      *type = tag.type;
      *parse_as = tag.parse_as;
      return tag.text.size();
    }
  }
  if (!StartsWith(data, "hex(")) return 0;
  size_t end;
  *type = static_cast<uint32_t>(ParseHexNumber(data, 4, &end));
  if (data.substr(end, 2) != "):") return 0;
  *parse_as = ParseAs::kHex;
  return end + 2;
}

// Comma-separated hex bytes from s[*pos], each item at most 0xff, blanks
// allowed around the commas. Answers false for an item out of range.
bool ParseHexBytes(std::string_view s, size_t* pos, std::vector<uint8_t>* out) {
  size_t p = *pos;
  while (p < s.size() && IsHexDigit(s[p])) {
    size_t end;
    uint64_t byte = ParseHexNumber(s, p, &end);
    if (byte > 0xFF) return false;
    out->push_back(static_cast<uint8_t>(byte));
    p = SkipSpaces(s, end);
    if (p < s.size() && s[p] == ',') ++p;
    p = SkipSpaces(s, p);
  }
  *pos = p;
  return true;
}

// Parses the data part of a value line into `value`; hex data may go on over
// the following lines. Answers false for malformed data.
bool ParseData(std::string_view data, LineReader* lines, Value* value) {
  ParseAs parse_as;
  size_t pos = ReadTypeTag(data, &value->type, &parse_as);
  if (pos == 0) return false;
  switch (parse_as) {
    case ParseAs::kString: {
      Units units;
      if (!ParseEscaped(data, &pos, '"', &units)) return false;
      units.push_back(0);
      for (char16_t u : units) {
        value->data.push_back(static_cast<uint8_t>(u & 0xFF));
        value->data.push_back(static_cast<uint8_t>(u >> 8));
      }
      return true;
    }
    case ParseAs::kDword: {
      size_t end;
      uint32_t dword = static_cast<uint32_t>(ParseHexNumber(data, pos, &end));
      for (int i = 0; i < 4; ++i) value->data.push_back(static_cast<uint8_t>(dword >> (8 * i)));
      return true;
    }
    case ParseAs::kHex:
      for (;;) {
        if (!ParseHexBytes(data, &pos, &value->data)) return false;
        pos = SkipSpaces(data, pos);
        if (pos >= data.size()) return true;
        // A backslash continues the data on the next line, whatever that is;
        // the rest of its own line is not looked at.
        if (data[pos] != '\\' || !lines->Next(&data)) return false;
        pos = SkipSpaces(data, 0);
      }
  }
  return false;
}

// Parses the name part of a value line (which starts with '@' or '"') and the
// `=` after it. Answers false for a malformed name; otherwise *pos is where
// the data starts.
bool ParseValueName(std::string_view line, Units* name, size_t* pos) {
  size_t p = 1;
  if (line[0] == '"' && !ParseEscaped(line, &p, '"', name)) return false;
  p = SkipSpaces(line, p);
  if (p >= line.size() || line[p] != '=') return false;
  *pos = SkipSpaces(line, p + 1);
  return true;
}

enum class Block { kNone, kOther, kWanted };

// The block that the key line opens; `rest` follows the '['.
Block ParseKeyLine(std::string_view rest, const std::vector<Units>& wanted) {
  Units name;
  size_t pos = 0;
  if (!ParseEscaped(rest, &pos, ']', &name)) return Block::kNone;
  // The server takes a name whose first character is NUL for the hive itself.
  if (!name.empty() && name[0] == 0) name.clear();
  std::vector<Units> parts;
  if (!SplitKeyPath(name, &parts)) return Block::kNone;
  return SameKey(parts, wanted) ? Block::kWanted : Block::kOther;
}

RegValue ToResult(const std::optional<Value>& value) {
  RegValue result;
  if (!value || value->data.empty()) return result;
  if (value->type != kRegSz && value->type != kRegExpandSz) {
    result.kind = RegValueKind::kNonText;
    return result;
  }
  Units units;
  for (size_t i = 0; i + 1 < value->data.size(); i += 2) {
    char16_t u = static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  result.kind = RegValueKind::kText;
  result.text = Utf16ToUtf8(units, true);
  return result;
}

}  // namespace

RegValue FindWineRegValue(std::string_view fileText, const std::string& keyPath,
                          const std::string& valueName) {
  Units key_path = DecodeRequest(keyPath);
  if (!key_path.empty() && key_path[0] == u'\\') key_path.erase(0, 1);
  std::vector<Units> wanted_key;
  if (!SplitKeyPath(key_path, &wanted_key)) return RegValue();
  const Units wanted_value = DecodeRequest(valueName);

  LineReader lines(fileText);
  std::string_view line;
  if (!lines.Next(&line) || line != kHeader) return RegValue();

  Block block = Block::kNone;
  std::optional<std::string_view> arch;
  std::optional<Value> found;
  while (lines.Next(&line)) {
    line = line.substr(SkipSpaces(line, 0));
    if (line.empty()) continue;
    if (line[0] == '[') {
      block = ParseKeyLine(line.substr(1), wanted_key);
    } else if (line[0] == '@' || line[0] == '"') {
      if (block == Block::kNone) continue;
      Units name;
      size_t data_pos;
      if (!ParseValueName(line, &name, &data_pos)) continue;
      Value value;
      if (!ParseData(line.substr(data_pos), &lines, &value)) value = Value();
      if (block == Block::kWanted && NamesEqual(name, wanted_value)) found = std::move(value);
    } else if (line[0] == '#' && block == Block::kNone && StartsWith(line, "#arch=")) {
      std::string_view name = line.substr(6);
      if (name != "win32" && name != "win64") break;
      if (arch && *arch != name) break;
      arch = name;
    }
  }
  return ToResult(found);
}
