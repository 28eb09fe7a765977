#include "ini/text.h"

#include <cstdint>

namespace {

constexpr char16_t kReplacement = 0xFFFD;
bool IsSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void AppendUtf8(std::uint32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUnit(std::uint32_t c, std::u16string* units) {
  if (c >= 0x10000) {
    c -= 0x10000;
    *units += static_cast<char16_t>(0xD800 | (c >> 10));
    *units += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
  } else {
    *units += static_cast<char16_t>(c);
  }
}

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
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    std::uint32_t least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      least = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    std::uint32_t c = lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = c << 6 | (next & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF || IsSurrogate(c)) return false;
    beyond = true;
    i += length;
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
      AppendUnit(c, &units);
    }
  }
  return units;
}

std::string UnitsToText(std::u16string_view units) {
  std::string text;
  text.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    }
    AppendUtf8(c, &text);
  }
  return text;
}
