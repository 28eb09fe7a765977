#include "ini/text.h"

#include <iconv.h>
#include <locale.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "base/Ascii.h"
#include "ini/code-pages.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr unsigned kUtf8CodePage = 65001;

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

// ---- Code pages ----

std::string IconvName(unsigned code_page) { return "CP" + std::to_string(code_page); }

bool IsDoubleByte(unsigned code_page) {
  return code_page == 932 || code_page == 936 || code_page == 949 || code_page == 950;
}

struct Iconv {
  explicit Iconv(const std::string& to, const std::string& from)
      : cd(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (ok()) iconv_close(cd);
  }
  bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t cd;
};

// A code page of one byte a character: the character of each byte, and the byte of each
// character, both from the C library's tables.
struct SingleByte {
  char16_t of_byte[256];
  std::unordered_map<char16_t, unsigned char> of_character;
};

SingleByte MakeSingleByte(unsigned code_page) {
  SingleByte table;
  for (int b = 0; b < 256; ++b) {
    char16_t unit = b < 0x80 ? static_cast<char16_t>(b) : kReplacement;
    Iconv cd("UTF-16LE", IconvName(code_page));
    if (b >= 0x80 && cd.ok()) {
      char in = static_cast<char>(b);
      char* in_p = &in;
      std::size_t in_left = 1;
      unsigned char out[16];
      char* out_p = reinterpret_cast<char*>(out);
      std::size_t out_left = sizeof out;
      // Code pages with combining characters hold a character back until the end of the text.
      if (iconv(cd.cd, &in_p, &in_left, &out_p, &out_left) != static_cast<std::size_t>(-1) &&
          iconv(cd.cd, nullptr, nullptr, &out_p, &out_left) != static_cast<std::size_t>(-1) &&
          sizeof out - out_left == 2) {
        unit = static_cast<char16_t>(out[0] | out[1] << 8);
      } else if (b < 0xA0) {
        // A byte without a character of its own is the control character of its number.
        unit = static_cast<char16_t>(b);
      }
    }
    for (std::size_t i = 0; i < kExtraByteCount; ++i) {
      if (kExtraBytes[i].code_page == code_page && kExtraBytes[i].byte == b) {
        unit = kExtraBytes[i].character;
      }
    }
    table.of_byte[b] = unit;
    if (unit != kReplacement) table.of_character.emplace(unit, static_cast<unsigned char>(b));
  }
  for (std::size_t i = 0; i < kBestFitsCount; ++i) {
    if (kBestFits[i].code_page != code_page) continue;
    for (std::size_t k = 0; k < kBestFits[i].count; ++k) {
      std::uint32_t fit = kBestFits[i].fits[k];
      table.of_character.emplace(static_cast<char16_t>(fit >> 8),
                                 static_cast<unsigned char>(fit & 0xFF));
    }
  }
  return table;
}

const SingleByte& SingleByteTable(unsigned code_page) {
  static std::mutex mutex;
  static std::map<unsigned, std::unique_ptr<SingleByte>> tables;
  std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<SingleByte>& table = tables[code_page];
  if (!table) table = std::make_unique<SingleByte>(MakeSingleByte(code_page));
  return *table;
}

// Runs `cd` over `in`; where it stops at bytes it cannot convert, `skip` of them go and
// `substitute` takes their place.
std::string ConvertAll(const Iconv& cd, std::string_view in, std::size_t skip,
                       std::string_view substitute) {
  std::string out;
  char buffer[4096];
  char* in_p = const_cast<char*>(in.data());
  std::size_t in_left = in.size();
  while (in_left > 0) {
    char* out_p = buffer;
    std::size_t out_left = sizeof buffer;
    std::size_t r = iconv(cd.cd, &in_p, &in_left, &out_p, &out_left);
    out.append(buffer, sizeof buffer - out_left);
    if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
      std::size_t n = in_left < skip ? in_left : skip;
      in_p += n;
      in_left -= n;
      out.append(substitute);
      iconv(cd.cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  char* out_p = buffer;
  std::size_t out_left = sizeof buffer;
  iconv(cd.cd, nullptr, nullptr, &out_p, &out_left);
  out.append(buffer, sizeof buffer - out_left);
  return out;
}

std::u16string LittleEndianUnits(const std::string& bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  return units;
}

// ---- Locales ----

// A Unix locale name as Windows names the locale: "sr_RS.UTF-8@latin" is "sr-Latn-RS". False
// for a modifier Windows has no name for.
bool WindowsLocaleName(const std::string& unix_name, std::string* windows) {
  std::size_t cut = unix_name.find_first_of("_.@");
  if (cut == std::string::npos) {
    *windows = unix_name == "C" || unix_name == "POSIX" ? "en-US" : unix_name;
    return true;
  }
  std::string language = unix_name.substr(0, cut);
  std::string country;
  std::string modifier;
  std::size_t at = unix_name.find('@', cut);
  if (unix_name[cut] == '_') {
    std::size_t end = unix_name.find_first_of(".@", cut + 1);
    country =
        unix_name.substr(cut + 1, end == std::string::npos ? std::string::npos : end - cut - 1);
  }
  if (at != std::string::npos) modifier = unix_name.substr(at + 1);
  *windows = language;
  if (modifier == "latin") {
    *windows += "-Latn";
  } else if (modifier == "cyrillic") {
    *windows += "-Cyrl";
  } else if (!modifier.empty() && modifier != "euro") {
    return false;
  }
  if (!country.empty()) *windows += "-" + country;
  return true;
}

unsigned CodePageOfLocale(const std::string& windows_name) {
  const std::string wanted = ascii::Lower(windows_name);
  for (std::size_t i = 0; i < kLocaleCodePageCount; ++i) {
    std::string_view names = kLocaleCodePages[i].names;
    while (!names.empty()) {
      std::size_t end = names.find(' ');
      if (names.substr(0, end) == wanted) return kLocaleCodePages[i].code_page;
      if (end == std::string_view::npos) break;
      names.remove_prefix(end + 1);
    }
  }
  return 1252;
}

bool IsInstalledLocale(const char* name) {
  locale_t locale = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return false;
  freelocale(locale);
  return true;
}

}  // namespace

IniEncoding DetectEncoding(std::string_view bytes, std::size_t* mark) {
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
  return IniEncoding::kAnsi;
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

unsigned AnsiCodePageFor(const char* lc_all, const char* lc_ctype, const char* lang) {
  auto set = [](const char* value) { return value != nullptr && value[0] != '\0'; };
  std::string name = set(lc_all) ? lc_all : set(lc_ctype) ? lc_ctype : set(lang) ? lang : "";
  // The C library's locale: a name that is not installed leaves the locale C.
  if (name.empty() || !IsInstalledLocale(name.c_str())) name = "C";
  // For C, Wine looks at LC_ALL itself, installed or not.
  if (name == "C") {
    if (!set(lc_all)) return 1252;
    name = lc_all;
  }
  std::string windows;
  return WindowsLocaleName(name, &windows) ? CodePageOfLocale(windows) : 1252;
}

unsigned AnsiCodePage() {
  static const unsigned code_page =
      AnsiCodePageFor(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
  return code_page;
}

std::string AnsiToText(std::string_view ansi, unsigned code_page) {
  if (code_page == kUtf8CodePage) return UnitsToText(TextToUnits(ansi, false));
  if (IsDoubleByte(code_page)) {
    Iconv cd("UTF-16LE", IconvName(code_page));
    if (cd.ok()) return UnitsToText(LittleEndianUnits(ConvertAll(cd, ansi, 1, "\xFD\xFF")));
  }
  const SingleByte& table = SingleByteTable(code_page);
  std::string text;
  text.reserve(ansi.size());
  for (char c : ansi) AppendUtf8(table.of_byte[static_cast<unsigned char>(c)], &text);
  return text;
}

std::string TextToAnsi(std::string_view text, bool from_utf16, unsigned code_page) {
  return UnitsToAnsi(TextToUnits(text, from_utf16), code_page);
}

std::string UnitsToAnsi(std::u16string_view units, unsigned code_page) {
  if (code_page == kUtf8CodePage) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
      std::uint32_t c = units[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
          units[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
      } else if (IsSurrogate(c)) {
        c = kReplacement;
      }
      AppendUtf8(c, &out);
    }
    return out;
  }
  std::string ansi;
  ansi.reserve(units.size());
  if (IsDoubleByte(code_page)) {
    Iconv cd(IconvName(code_page), "UTF-16LE");
    if (cd.ok()) {
      std::string bytes;
      for (char16_t unit : units) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
      }
      return ConvertAll(cd, bytes, 2, "?");
    }
  }
  const SingleByte& table = SingleByteTable(code_page);
  for (char16_t unit : units) {
    auto found = table.of_character.find(unit);
    ansi += found == table.of_character.end() ? '?' : static_cast<char>(found->second);
  }
  return ansi;
}
