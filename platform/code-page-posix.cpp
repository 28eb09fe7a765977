// The ANSI code pages natively: Wine's rules for the locale's code page, the C library's iconv
// tables, and what Windows does beyond them, measured under Wine (code-page-tables.cpp).
#include "platform/code-page.h"

#include <iconv.h>
#include <locale.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "base/Ascii.h"
#include "ini/text.h"
#include "platform/code-page-tables.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr unsigned kUtf8CodePage = 65001;

bool IsSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

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
  std::u16string units;
  units.reserve(ansi.size());
  for (char c : ansi) units += table.of_byte[static_cast<unsigned char>(c)];
  return UnitsToText(units);
}

std::string UnitsToAnsi(std::u16string_view units, unsigned code_page) {
  if (code_page == kUtf8CodePage) {
    // A surrogate that stands alone has no UTF-8 form: the replacement character takes its place.
    std::u16string whole(units);
    for (std::size_t i = 0; i < whole.size(); ++i) {
      const bool high = whole[i] >= 0xD800 && whole[i] <= 0xDBFF;
      if (high && i + 1 < whole.size() && whole[i + 1] >= 0xDC00 && whole[i + 1] <= 0xDFFF) {
        ++i;
      } else if (IsSurrogate(whole[i])) {
        whole[i] = kReplacement;
      }
    }
    return UnitsToText(whole);
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
