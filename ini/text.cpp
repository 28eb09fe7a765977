#include "ini/text.h"

#include <cstdint>

#include "base/utf.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;
// One character of UTF-8 as Windows decodes it: `*pos` is behind the lead byte, and moves over
// what the character takes. ~0 for an invalid sequence (one replacement character). A sequence
// cut short by the end of the text takes the rest of it.
std::uint32_t DecodeWindowsUtf8(unsigned char lead, std::string_view text, std::size_t* pos) {
  static const unsigned char kFollowing[128] = {
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x80
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x90
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xa0
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xb0
      0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xc0
      1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xd0
      2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xe0
      3, 3, 3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xf0
  };
  static const unsigned char kMask[4] = {0x7F, 0x1F, 0x0F, 0x07};
  const unsigned length = kFollowing[lead - 0x80];
  std::uint32_t c = lead & kMask[length];
  const std::size_t end = *pos + length;
  if (end > text.size()) {
    *pos = text.size();
    return ~0u;
  }
  // Each following byte is checked in turn; the ones that fit are taken, up to the first that
  // does not, which starts the next character.
  auto next = [&](std::size_t at, unsigned* bits) {
    *bits = static_cast<unsigned char>(text[at]) ^ 0x80;
    return *bits < 0x40;
  };
  unsigned bits = 0;
  switch (length) {
    case 3:
      if (!next(end - 3, &bits)) return ~0u;
      c = (c << 6) | bits;
      ++*pos;
      if (c < 0x10) return ~0u;
      [[fallthrough]];
    case 2:
      if (!next(end - 2, &bits)) return ~0u;
      c = (c << 6) | bits;
      if (c >= (0x110000 >> 6)) return ~0u;
      ++*pos;
      if (c < 0x20) return ~0u;
      if (c >= (0xD800 >> 6) && c <= (0xDFFF >> 6)) return ~0u;
      [[fallthrough]];
    case 1:
      if (!next(end - 1, &bits)) return ~0u;
      c = (c << 6) | bits;
      ++*pos;
      if (c < 0x80) return ~0u;
      return c;
    default:
      return ~0u;
  }
}

}  // namespace

bool IsUtf8BeyondAscii(std::string_view text) {
  bool beyond = false;
  std::size_t i = 0;
  while (i < text.size()) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    std::uint32_t c = 0;
    if (!DecodeUtf8(text, &i, &c) || IsSurrogate(c)) return false;
    beyond = true;
  }
  return beyond;
}

IniEncoding DetectEncoding(std::string_view bytes, std::size_t* mark, bool markless_utf8) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    *mark = 3;
    return IniEncoding::kUtf8;
  }
  if (bytes.substr(0, 2) == "\xFF\xFE") {
    *mark = 2;
    return IniEncoding::kUtf16Le;
  }
  if (bytes.substr(0, 2) == "\xFE\xFF") {
    *mark = 2;
    return IniEncoding::kUtf16Be;
  }
  *mark = 0;
  return markless_utf8 && IsUtf8BeyondAscii(bytes) ? IniEncoding::kUtf8 : IniEncoding::kAnsi;
}

std::string Utf16ToText(std::string_view bytes, bool big_endian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    unsigned a = static_cast<unsigned char>(bytes[i]);
    unsigned b = static_cast<unsigned char>(bytes[i + 1]);
    units += static_cast<char16_t>(big_endian ? (a << 8 | b) : (b << 8 | a));
  }
  return UnitsToText(units);
}

std::string TextToUtf16(std::string_view text, bool big_endian) {
  std::u16string units = TextToUnits(text, true);
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t unit : units) {
    char high = static_cast<char>(unit >> 8);
    char low = static_cast<char>(unit & 0xFF);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}

std::u16string TextToUnits(std::string_view text, bool from_utf16) {
  std::u16string units;
  units.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[pos++]);
    if (lead < 0x80) {
      units += static_cast<char16_t>(lead);
      continue;
    }
    if (from_utf16 && lead == 0xED && pos + 1 < text.size()) {
      // The three bytes of a surrogate that stood alone in the UTF-16 file.
      std::uint32_t c = (lead & 0x0F) << 12 | (static_cast<unsigned char>(text[pos]) & 0x3F) << 6 |
                        (static_cast<unsigned char>(text[pos + 1]) & 0x3F);
      if (IsSurrogate(c)) {
        units += static_cast<char16_t>(c);
        pos += 2;
        continue;
      }
    }
    std::uint32_t c = DecodeWindowsUtf8(lead, text, &pos);
    if (c == ~0u) {
      units += kReplacement;
    } else {
      AppendUtf16(c, &units);
    }
  }
  return units;
}

std::string UnitsToText(std::u16string_view units) { return Utf16ToUtf8(units, false); }
