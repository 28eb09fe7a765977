// The reader of Wine's user.reg.
//
// The input is used twice:
// - as the file text, looked up under a few fixed names and under names found in it. Every
//   answer must be well formed (text only with kText, and then UTF-8 without a NUL), and must not
//   change when the names are written another way that means the same (letter case, a leading or
//   trailing backslash, doubled separators, junk behind a NUL) or when the file's lines end in
//   CR LF instead of LF;
// - as a string of characters that is written into a registry file the way a registry writer
//   could (raw UTF-8 or escapes, chosen by the input): reading it back must give that string.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "wine/registry.h"

namespace {

constexpr char kProductKey[] = "Software\\Framekeep\\Install";

const char* KindName(RegValueKind kind) {
  switch (kind) {
    case RegValueKind::kMissing:
      return "missing";
    case RegValueKind::kText:
      return "text";
    case RegValueKind::kNonText:
      return "non-text";
  }
  return "?";
}

std::string ShowValue(const RegValue& value) {
  return std::string(KindName(value.kind)) + " " + fuzz::Show(value.text);
}

bool Same(const RegValue& a, const RegValue& b) { return a.kind == b.kind && a.text == b.text; }

// Strict UTF-8: shortest forms only, no surrogates, nothing beyond U+10FFFF.
bool IsStrictUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    char32_t cp;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, cp = lead & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const unsigned char c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::string FlipAsciiCase(std::string text) {
  for (char& c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c = static_cast<char>(c ^ 0x20);
  }
  return text;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size()) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

RegValue Lookup(const std::string& text, const std::string& key, const std::string& name) {
  RegValue value = FindWineRegValue(text, key, name);
  FUZZ_CHECK(
      value.kind == RegValueKind::kText || value.text.empty(),
      "a " + std::string(KindName(value.kind)) + " answer carries text " + fuzz::Show(value.text));
  FUZZ_CHECK(value.text.find('\0') == std::string::npos, "text with a NUL: " + ShowValue(value));
  FUZZ_CHECK(IsStrictUtf8(value.text), "text that is not UTF-8: " + ShowValue(value));
  return value;
}

void CheckSpellings(const std::string& text, const std::string& key, const std::string& name) {
  const RegValue value = Lookup(text, key, name);
  auto expect_same = [&](const std::string& what, const RegValue& other) {
    FUZZ_CHECK(Same(value, other), "key " + fuzz::Show(key) + ", value " + fuzz::Show(name) + ": " +
                                       ShowValue(value) + ", but with " + what + ": " +
                                       ShowValue(other) + "\nfile: " + fuzz::Show(text));
  };
  expect_same("letter case flipped", Lookup(text, FlipAsciiCase(key), FlipAsciiCase(name)));
  expect_same("junk behind a NUL",
              Lookup(text, key + std::string("\0\\x", 3), name + std::string("\0y", 2)));
  expect_same("a trailing backslash", Lookup(text, key + "\\", name));
  if (key.empty() || key[0] != '\\') {
    expect_same("a leading backslash", Lookup(text, "\\" + key, name));
    expect_same("doubled separators", Lookup(text, Replace(key, "\\", "\\\\"), name));
  }
  if (text.find('\r') == std::string::npos && text.find('\n') != std::string::npos) {
    expect_same("CR LF line ends", Lookup(Replace(text, "\n", "\r\n"), key, name));
  }
}

// The first key line's name with its doubled backslashes made single, and the first value
// line's name.
void NamesFound(const std::string& text, std::vector<std::string>* keys,
                std::vector<std::string>* names) {
  std::size_t open = text.find("\n[");
  if (open != std::string::npos) {
    std::size_t close = text.find(']', open);
    if (close != std::string::npos) {
      keys->push_back(Replace(text.substr(open + 2, close - open - 2), "\\\\", "\\"));
    }
  }
  std::size_t quote = text.find("\n\"");
  if (quote != std::string::npos) {
    std::size_t end = text.find('"', quote + 2);
    if (end != std::string::npos) names->push_back(text.substr(quote + 2, end - quote - 2));
  }
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string HexEscape(unsigned unit) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "\\x%04x", unit);
  return buffer;
}

// Writes one character inside a quoted registry string, in the form that `how` picks.
void AppendEscaped(char32_t cp, unsigned how, std::string* out) {
  static const std::string kLetters = "abefnrtv";
  static const char32_t kLetterCodes[] = {0x07, 0x08, 0x1B, 0x0C, 0x0A, 0x0D, 0x09, 0x0B};
  for (std::size_t i = 0; i < kLetters.size(); ++i) {
    if (cp == kLetterCodes[i] && how % 2 == 0) {
      *out += '\\';
      *out += kLetters[i];
      return;
    }
  }
  switch (how % 4) {
    case 0:
    case 1:
      if (cp != '"' && cp != '\\' && cp != '\n') {
        AppendUtf8(cp, out);
        return;
      }
      break;
    case 2:
      if (cp <= 0777) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\%03o", static_cast<unsigned>(cp));
        *out += buffer;
        return;
      }
      break;
    default:
      // A character that has no escape of its own stands for itself behind a backslash.
      if (cp >= 0x20 && cp < 0x7F && kLetters.find(static_cast<char>(cp)) == std::string::npos &&
          cp != 'x' && !(cp >= '0' && cp <= '7')) {
        *out += '\\';
        *out += static_cast<char>(cp);
        return;
      }
      break;
  }
  if (cp < 0x10000) {
    *out += HexEscape(cp);
  } else {
    *out += HexEscape(0xD800 + ((cp - 0x10000) >> 10));
    *out += HexEscape(0xDC00 + ((cp - 0x10000) & 0x3FF));
  }
}

// A registry file holding a string made of the input's characters, read back.
void CheckWrittenString(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  std::string expected;
  std::string escaped;
  std::size_t i = 1;
  while (i < size) {
    const std::uint8_t b = data[i++];
    char32_t cp = b;
    unsigned how = i;
    if (b >= 0x80 && i + 1 < size) {
      cp = static_cast<char32_t>(data[i]) << 8 | data[i + 1];
      how = data[i + 1] >> 4;
      i += 2;
      if (b >= 0xC0) cp = 0x10000 + ((static_cast<char32_t>(b & 0x0F) << 16) | cp);
      if (cp >= 0xD800 && cp <= 0xDFFF) cp ^= 0x4000;
    }
    if (cp == 0) continue;
    AppendUtf8(cp, &expected);
    AppendEscaped(cp, how, &escaped);
  }

  static const char* const kTags[] = {"\"", "str:\"", "str(2):\"", "str(7):\""};
  const unsigned tag = data[0] % 4;
  std::string text =
      "WINE REGISTRY Version 2\n"
      ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
      "\n"
      "#arch=win64\n"
      "\n"
      "[Software\\\\Framekeep\\\\Install] 1700000000\n"
      "#time=1da2b3c4d5e6f70\n"
      "\"InstallDir\"=\"an older value\"\n"
      "\n"
      "[Software\\\\Framekeep\\\\Other] 1700000000\n"
      "\"InstallDir\"=\"in another key\"\n"
      "\n"
      "[Software\\\\Framekeep\\\\Install] 1700000001\n"
      "\"Version\"=dword:00000104\n"
      "\"InstallDir\"=";
  text += kTags[tag];
  text += escaped + "\"\n\"Zzz\"=hex:01,02,\\\n  03\n";
  if (data[0] & 4) text = Replace(text, "\n", "\r\n");

  const RegValue value = Lookup(text, kProductKey, data[0] & 8 ? "installdir" : "InstallDir");
  if (tag == 3) {
    FUZZ_CHECK(value.kind == RegValueKind::kNonText, "a multi-string read as " + ShowValue(value));
    return;
  }
  FUZZ_CHECK(value.kind == RegValueKind::kText && value.text == expected,
             "string written as " + fuzz::Show(escaped) + " read as " + ShowValue(value) +
                 ", expected " + fuzz::Show(expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> keys = {kProductKey};
  std::vector<std::string> names = {"InstallDir"};
  NamesFound(text, &keys, &names);
  // The names found in the text in every spelling; a few more only as they are.
  for (const std::string& key : keys) {
    for (const std::string& name : names) CheckSpellings(text, key, name);
  }
  for (const char* key : {"\\Software\\Framekeep", "Software\\Wine\\Drives", ""}) {
    for (const char* name : {"InstallDir", "", "c:"}) Lookup(text, key, name);
  }
  CheckWrittenString(data, size);
  return 0;
}
