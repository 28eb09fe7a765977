// The text of INI files as Windows reads and writes it. The expected values were measured once
// under Wine 8 with WideCharToMultiByte and MultiByteToWideChar (docs/ini-encodings.md): natively
// they hold the measured tables to Windows, and in the Windows build the Windows API itself.
#include <gtest/gtest.h>

#include <string>

#include "ini/text.h"
#include "platform/code-page.h"

namespace {

std::string Utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

TEST(IniText, TheByteOrderMarkTellsTheEncoding) {
  struct Case {
    std::string bytes;
    IniEncoding encoding;
    std::size_t mark;
  } cases[] = {
      {"\xEF\xBB\xBF[S]", IniEncoding::kUtf8, 3},
      {std::string("\xFF\xFE[\0", 4), IniEncoding::kUtf16Le, 2},
      {std::string("\xFE\xFF\0[", 4), IniEncoding::kUtf16Be, 2},
      {"\xEF\xBB[S]", IniEncoding::kAnsi, 0},
      {"\xFF[S]", IniEncoding::kAnsi, 0},
      {"", IniEncoding::kAnsi, 0},
  };
  for (const Case& c : cases) {
    std::size_t mark = 99;
    EXPECT_EQ(DetectEncoding(c.bytes, &mark), c.encoding) << c.bytes;
    EXPECT_EQ(mark, c.mark) << c.bytes;
  }
}

// Without a mark, a file is UTF-8 only when asked, valid UTF-8 as a whole, and beyond ASCII.
TEST(IniText, MarklessUtf8IsValidUtf8BeyondAscii) {
  struct Case {
    std::string bytes;
    bool utf8;
  } cases[] = {
      {"k=Caf\xC3\xA9", true}, {"\xF0\x9F\x98\x80", true}, {"plain ASCII", false},
      {"Caf\xE9", false},      {"\xC3\xA9 \xE9", false},   {"\xC3", false},
      {"\xC0\x80", false},     {"\xED\xA0\x80", false},    {"\xF4\x90\x80\x80", false},
  };
  for (const Case& c : cases) {
    std::size_t mark = 99;
    EXPECT_EQ(DetectEncoding(c.bytes, &mark, true),
              c.utf8 ? IniEncoding::kUtf8 : IniEncoding::kAnsi)
        << c.bytes;
    EXPECT_EQ(mark, 0u);
    EXPECT_EQ(DetectEncoding(c.bytes, &mark), IniEncoding::kAnsi) << c.bytes;
  }
}

// A character that the code page cannot hold becomes Windows' best fit, else "?" for each UTF-16
// code unit it takes.
TEST(IniText, CharactersBeyondTheCodePageBecomeWindowsBestFits) {
  struct Case {
    unsigned code_page;
    char32_t character;
    std::string ansi;
  } cases[] = {
      {1252, 0x0100, "A"},    {1252, 0x0102, "A"},    {1252, 0x03A9, "O"},
      {1252, 0x3000, " "},    {1252, 0x0141, "L"},    {1252, 0xFF21, "A"},
      {1252, 0x2018, "\x91"}, {1252, 0x4E00, "?"},    {1252, 0x0416, "?"},
      {1252, 0x1F600, "??"},  {1251, 0x0416, "\xC6"}, {1251, 0x0401, "\xA8"},
      {1251, 0x00C4, "A"},    {1251, 0x00E9, "e"},    {1251, 0x03A9, "?"},
      {1251, 0x3000, "?"},    {1250, 0x0102, "\xC3"}, {1250, 0x0141, "\xA3"},
      {1250, 0x0100, "A"},    {1250, 0x3000, " "},    {1253, 0x03A9, "\xD9"},
      {1253, 0x00C4, "A"},    {1253, 0x3000, "?"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextToAnsi(Utf8(c.character), false, c.code_page), c.ansi)
        << c.code_page << " U+" << std::hex << static_cast<unsigned>(c.character);
  }
}

// Bytes without a character of their own read as Windows reads them: the control character of
// the same number, or a private-use character.
TEST(IniText, EveryByteOfTheCodePageReadsAsWindowsReadsIt) {
  struct Case {
    unsigned code_page;
    std::string ansi;
    char32_t character;
  } cases[] = {
      {1252, "\x80", 0x20AC}, {1252, "\x81", 0x0081}, {1252, "\x8D", 0x008D},
      {1251, "\x80", 0x0402}, {1251, "\xAA", 0x0404}, {1250, "\x8D", 0x0164},
      {1253, "\x81", 0x0081}, {1253, "\xC0", 0x0390}, {1253, "\xAA", 0xF8F9},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnsiToText(c.ansi, c.code_page), Utf8(c.character))
        << c.code_page << " byte " << std::hex << (static_cast<unsigned>(c.ansi[0]) & 0xFF);
  }
}

// Invalid UTF-8 becomes as many replacement characters ("?" in 1252) as Windows makes of it.
TEST(IniText, InvalidUtf8DecodesAsOnWindows) {
  struct Case {
    std::string bytes;
    std::string ansi;
  } cases[] = {
      {"\xC3", "?"},
      {"\xC3(", "?("},
      {"\xE2\x82", "?"},
      {"\xE2\x82x", "?x"},
      {"\xE2(\xAC", "?(?"},
      {"\xF0\x9F\x98", "?"},
      {"\xC0\x80", "??"},
      {"\xC1\xBF", "??"},
      {"\xE0\x80\x80", "??"},
      {"\xED\xA0\x80", "??"},
      {"\xF4\x90\x80\x80", "???"},
      {"\xF5\x80\x80\x80", "????"},
      {"\x80\x80", "??"},
      {"\xFF", "?"},
      {"\xF0\x9F\x98\x80", "??"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextToAnsi("<" + c.bytes + ">", false, 1252), "<" + c.ansi + ">");
  }
}

TEST(IniText, UnicodeFilesTurnIntoTextAndBackExactly) {
  // "A", U+00E9, U+20AC, a lone high surrogate, U+1F600, as UTF-16 little- and big-endian.
  const std::string le("A\0\xE9\0\xAC\x20\x00\xD8\x3D\xD8\x00\xDE", 12);
  const std::string be("\0A\0\xE9\x20\xAC\xD8\x00\xD8\x3D\xDE\x00", 12);
  const std::string text = Utf8('A') + Utf8(0xE9) + Utf8(0x20AC) + "\xED\xA0\x80" + Utf8(0x1F600);
  EXPECT_EQ(Utf16ToText(le, false), text);
  EXPECT_EQ(Utf16ToText(be, true), text);
  EXPECT_EQ(TextToUtf16(text, false), le);
  EXPECT_EQ(TextToUtf16(text, true), be);
}

#ifndef _WIN32
// Wine's ANSI code page of a locale named in LC_ALL, whether or not it is installed here.
TEST(IniText, TheCodePageFollowsTheLocale) {
  struct Case {
    const char* lc_all;
    unsigned code_page;
  } cases[] = {
      {"C", 1252},           {"POSIX", 1252},        {"bg_BG.UTF-8", 1251}, {"pl_PL", 1250},
      {"el_GR.UTF-8", 1253}, {"ja_JP.UTF-8", 932},   {"sr_RS@latin", 1250}, {"sr_RS", 1252},
      {"ru_XX", 1252},       {"hi_IN.UTF-8", 65001}, {"de_DE@euro", 1252},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnsiCodePageFor(c.lc_all, nullptr, nullptr), c.code_page) << c.lc_all;
  }
}
#endif

}  // namespace
