#include "base/utf.h"

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

void AppendUtf16(std::uint32_t c, std::u16string* out) {
  if (c < 0x10000) {
    *out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    *out += static_cast<char16_t>(0xD800 | (c >> 10));
    *out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
  }
}

bool DecodeUtf8(std::string_view s, std::size_t* pos, std::uint32_t* code_point) {
  const unsigned char lead = static_cast<unsigned char>(s[(*pos)++]);
  int extra;
  std::uint32_t value;
  std::uint32_t least;
  if (lead >= 0xC0 && lead <= 0xDF) {
    extra = 1, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    extra = 3, value = lead & 0x07, least = 0x10000;
  } else {
    return false;
  }
  for (int i = 0; i < extra; ++i) {
    if (*pos >= s.size()) return false;
    const unsigned bits = static_cast<unsigned char>(s[*pos]) ^ 0x80u;
    if (bits >= 0x40) return false;
    value = (value << 6) | bits;
    ++*pos;
  }
  if (value < least || value > 0x10FFFF) return false;
  *code_point = value;
  return true;
}

std::string Utf16ToUtf8(std::u16string_view units, bool replace_lone) {
  std::string text;
  text.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (replace_lone && IsSurrogate(c)) {
      c = 0xFFFD;
    }
    AppendUtf8(c, &text);
  }
  return text;
}
