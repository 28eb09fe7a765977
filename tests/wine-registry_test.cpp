#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "platform/registry.h"
#include "wine/registry.h"

namespace {

constexpr char kKey[] = "Software\\Framekeep\\Install";
constexpr char kKeyLine[] = "[Software\\\\Framekeep\\\\Install] 1700000000\n";

std::string RegFile(const std::string& body) {
  return "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
         "#arch=win64\n\n" +
         body;
}

// Looks up a value of the product's key in a file made of `body`.
RegValue Find(const std::string& body, const std::string& name = "InstallDir",
              const std::string& key = kKey) {
  return FindWineRegValue(RegFile(body), key, name);
}

// Looks up `name` in the product's key holding the single value line `line`.
RegValue FindIn(const std::string& line, const std::string& name = "InstallDir") {
  return Find(std::string(kKeyLine) + line + "\n", name);
}

testing::AssertionResult IsText(const RegValue& value, const std::string& expected) {
  if (value.kind != RegValueKind::kText) {
    return testing::AssertionFailure() << "kind " << static_cast<int>(value.kind) << ", not text";
  }
  if (value.text != expected) {
    return testing::AssertionFailure()
           << "text \"" << value.text << "\", expected \"" << expected << "\"";
  }
  return testing::AssertionSuccess();
}

TEST(WineRegistryStrings, PlainAndTaggedForms) {
  std::string body = std::string(kKeyLine) +
                     "#time=1da2b3c4d5e6f70\n"
                     "\"Plain\"=\"C:\\\\Program Files\\\\Framekeep\"\n"
                     "\"Tagged\"=str:\"tagged\"\n"
                     "\"Expand\"=str(2):\"%ProgramFiles%\\\\Framekeep\"\n"
                     "\"Empty\"=\"\"\n";
  EXPECT_TRUE(IsText(Find(body, "Plain"), "C:\\Program Files\\Framekeep"));
  EXPECT_TRUE(IsText(Find(body, "Tagged"), "tagged"));
  EXPECT_TRUE(IsText(Find(body, "Expand"), "%ProgramFiles%\\Framekeep"));
  EXPECT_TRUE(IsText(Find(body, "Empty"), ""));
  EXPECT_EQ(Find(body, "Absent").kind, RegValueKind::kMissing);
}

TEST(WineRegistryStrings, Escapes) {
  EXPECT_TRUE(IsText(FindIn(R"("InstallDir"="\a\b\t\n\v\f\r\e")"), "\a\b\t\n\v\f\r\x1b"));
  EXPECT_TRUE(IsText(FindIn(R"("InstallDir"="q\"uote\\back")"), "q\"uote\\back"));
  // Octal takes at most three digits, hex at most four.
  EXPECT_TRUE(IsText(FindIn(R"("InstallDir"="\101\1012\60x")"), "AA20x"));
  EXPECT_TRUE(IsText(FindIn(R"("InstallDir"="\x41\x00416")"), "AA6"));
  // Unknown escapes, and \x without a digit, stand for the letter.
  EXPECT_TRUE(IsText(FindIn(R"("InstallDir"="\q\[\xg")"), "q[xg"));
}

TEST(WineRegistryStrings, NonAsciiBecomesUtf8) {
  EXPECT_TRUE(IsText(FindIn(R"("InstallDir"="caf\xe9 \x20ac")"), "caf\xC3\xA9 \xE2\x82\xAC"));
  EXPECT_TRUE(IsText(FindIn(R"("InstallDir"="\xd83d\xde00")"), "\xF0\x9F\x98\x80"));
  // Raw UTF-8 is read as such; invalid bytes are dropped.
  EXPECT_TRUE(IsText(FindIn("\"InstallDir\"=\"caf\xC3\xA9\""), "caf\xC3\xA9"));
  EXPECT_TRUE(IsText(FindIn("\"InstallDir\"=\"a\xFF\xE2\x82z\""), "az"));
  // A surrogate without its partner comes out as U+FFFD.
  EXPECT_TRUE(IsText(FindIn(R"("InstallDir"="a\xd800z\xdc00")"), "a\xEF\xBF\xBDz\xEF\xBF\xBD"));
}

TEST(WineRegistryStrings, TextEndsAtFirstNul) {
  EXPECT_TRUE(IsText(FindIn(R"("InstallDir"="C:\\FK\0junk")"), "C:\\FK"));
  EXPECT_TRUE(IsText(FindIn(R"("InstallDir"="\0")"), ""));
}

TEST(WineRegistryHex, Utf16TextTypes) {
  EXPECT_TRUE(IsText(FindIn("\"InstallDir\"=hex(1):43,00,3a,00,5c,00,00,00"), "C:\\"));
  // Without a terminating NUL, with an odd byte, with a NUL inside.
  EXPECT_TRUE(IsText(FindIn("\"InstallDir\"=hex(2):41,00,42,00"), "AB"));
  EXPECT_TRUE(IsText(FindIn("\"InstallDir\"=hex(1):41,00,42"), "A"));
  EXPECT_TRUE(IsText(FindIn("\"InstallDir\"=hex(1):41,00,00,00,42,00"), "A"));
  EXPECT_TRUE(
      IsText(FindIn("\"InstallDir\"=hex(1):e9,00,3d,d8,00,de"), "\xC3\xA9\xF0\x9F\x98\x80"));
}

TEST(WineRegistryHex, ContinuationLines) {
  EXPECT_TRUE(IsText(FindIn("\"InstallDir\"=hex(2):43,00,3a,00,\\\n"
                            "  5c,00,46,\\\r\n"
                            "\t00,4b,00,00,00"),
                     "C:\\FK"));
  // The line after a backslash is data, whatever it looks like.
  std::string body = std::string(kKeyLine) +
                     "\"Blob\"=hex:01,\\\n"
                     "[Software\\\\Other]\n"
                     "\"InstallDir\"=\"still the product's\"\n";
  EXPECT_TRUE(IsText(Find(body), "still the product's"));
  // Data cut short by the end of the file is malformed.
  EXPECT_EQ(FindIn("\"InstallDir\"=hex(1):41,00,\\").kind, RegValueKind::kMissing);
}

TEST(WineRegistryTypes, OtherTypesAreNonText) {
  for (const char* data : {"dword:0000002a", "dword:", "hex:01,02", "hex(7):41,00,00,00,00,00",
                           "str(7):\"a\\0b\\0\"", "hex(4):2a,00,00,00", "hex(b):01"}) {
    SCOPED_TRACE(data);
    EXPECT_EQ(FindIn(std::string("\"InstallDir\"=") + data).kind, RegValueKind::kNonText);
  }
}

TEST(WineRegistryTypes, EmptyOrMalformedDataIsMissing) {
  // Size zero is tested before the type.
  for (const char* data : {"hex:", "hex(1):", "hex(2):", "hex(7):", "str(1):\"x\"", "bogus",
                           "\"unterminated", "hex(1):141,00", "hex(1):41;00"}) {
    SCOPED_TRACE(data);
    EXPECT_EQ(FindIn(std::string("\"InstallDir\"=") + data).kind, RegValueKind::kMissing);
  }
  // Malformed data still replaces an earlier value of the same name.
  EXPECT_EQ(FindIn("\"InstallDir\"=\"C:\\\\FK\"\n\"InstallDir\"=hex(1):zz").kind,
            RegValueKind::kMissing);
}

TEST(WineRegistryFile, HeaderMustBeExact) {
  const std::string rest = std::string("\n") + kKeyLine + "\"InstallDir\"=\"C:\\\\FK\"\n";
  for (const std::string& header :
       {std::string(""), std::string("WINE REGISTRY Version 1"),
        std::string(" WINE REGISTRY Version 2"), std::string("wine registry version 2"),
        std::string("\xEF\xBB\xBFWINE REGISTRY Version 2"), std::string("REGEDIT4")}) {
    SCOPED_TRACE(header);
    EXPECT_EQ(FindWineRegValue(header + rest, kKey, "InstallDir").kind, RegValueKind::kMissing);
  }
  EXPECT_EQ(FindWineRegValue("", kKey, "InstallDir").kind, RegValueKind::kMissing);
  EXPECT_TRUE(
      IsText(FindWineRegValue("WINE REGISTRY Version 2" + rest, kKey, "InstallDir"), "C:\\FK"));
}

TEST(WineRegistryFile, CrlfCommentsAndJunk) {
  std::string text =
      "WINE REGISTRY Version 2\r\n"
      ";; All keys relative to \\\\User\\\\S-1-5-21\r\n"
      "\r\n"
      "#arch=win64\r\n"
      "junk before any key\r\n"
      "\r\n"
      "  [Software\\\\Framekeep\\\\Install] 1700000000\r\n"
      "#time=1d9e4c7a3b2f1e0\r\n"
      "#class=\"Framekeep\"\r\n"
      "#link\r\n"
      "; a comment\r\n"
      "this line means nothing\r\n"
      "=\"neither does this\"\r\n"
      "   \t\r\n"
      "   \"InstallDir\" = \"C:\\\\FK\"\r\n";
  EXPECT_TRUE(IsText(FindWineRegValue(text, kKey, "InstallDir"), "C:\\FK"));
}

TEST(WineRegistryFile, ValuesCountOnlyInTheirOwnBlock) {
  EXPECT_EQ(Find("\"InstallDir\"=\"before any key\"\n").kind, RegValueKind::kMissing);
  EXPECT_EQ(Find("[Software\\\\Framekeep] 1\n\"InstallDir\"=\"parent\"\n"
                 "[Software\\\\Framekeep\\\\Install\\\\Sub] 1\n\"InstallDir\"=\"child\"\n"
                 "[Software\\\\Framekeep\\\\Installer] 1\n\"InstallDir\"=\"sibling\"\n")
                .kind,
            RegValueKind::kMissing);
  // A malformed key line closes the block before it.
  EXPECT_EQ(Find(std::string(kKeyLine) + "[Software\\\\Framekeep\\\\Install\n" +
                 "\"InstallDir\"=\"after the bad key\"\n")
                .kind,
            RegValueKind::kMissing);
  // A key name may not start with a backslash.
  EXPECT_EQ(Find("[\\\\Software\\\\Framekeep\\\\Install] 1\n\"InstallDir\"=\"x\"\n").kind,
            RegValueKind::kMissing);
}

TEST(WineRegistryFile, MalformedValueNamesAreIgnored) {
  std::string body = std::string(kKeyLine) +
                     "\"InstallDir\"=\"kept\"\n"
                     "\"InstallDir=\"lost quote\"\n"
                     "\"InstallDir\" \"no equals\"\n"
                     "@InstallDir=\"not a name\"\n";
  EXPECT_TRUE(IsText(Find(body), "kept"));
}

TEST(WineRegistryFile, UnknownArchitectureEndsLoading) {
  std::string rest = std::string(kKeyLine) + "\"InstallDir\"=\"C:\\\\FK\"\n";
  EXPECT_EQ(
      FindWineRegValue("WINE REGISTRY Version 2\n#arch=win16\n" + rest, kKey, "InstallDir").kind,
      RegValueKind::kMissing);
  EXPECT_EQ(FindWineRegValue("WINE REGISTRY Version 2\n#arch=win32\n#arch=win64\n" + rest, kKey,
                             "InstallDir")
                .kind,
            RegValueKind::kMissing);
  // Inside a key block, # lines are options of the key.
  EXPECT_TRUE(
      IsText(Find(std::string(kKeyLine) + "#arch=win16\n\"InstallDir\"=\"C:\\\\FK\"\n"), "C:\\FK"));
}

TEST(WineRegistryNames, MatchIgnoringCase) {
  std::string body = std::string(kKeyLine) + "\"InstallDir\"=\"C:\\\\FK\"\n" +
                     "[Software\\\\\\x00c9diteur\\\\\\x416\\x0411] 1\n\"Nom\\xc9\"=\"fr\"\n";
  EXPECT_TRUE(IsText(Find(body, "INSTALLDIR", "SOFTWARE\\framekeep\\iNSTALL"), "C:\\FK"));
  // Non-ASCII letters too: the file's \x00c9 is "É", \x416 "Ж", \x411 "Б".
  EXPECT_TRUE(IsText(Find(body, "nom\xC3\xA9",
                          "software\\\xC3\xA9"
                          "diteur\\\xD0\xB6\xD0\xB1"),
                     "fr"));
  EXPECT_EQ(Find(body, "InstallDi").kind, RegValueKind::kMissing);
  EXPECT_EQ(Find(body, "InstallDir\xC3").kind, RegValueKind::kMissing);
}

TEST(WineRegistryNames, RequestedKeyPathForms) {
  std::string body = std::string(kKeyLine) + "\"InstallDir\"=\"C:\\\\FK\"\n";
  EXPECT_TRUE(IsText(Find(body, "InstallDir", "\\Software\\Framekeep\\Install"), "C:\\FK"));
  EXPECT_TRUE(IsText(Find(body, "InstallDir", "Software\\\\Framekeep\\Install\\"), "C:\\FK"));
  EXPECT_EQ(Find(body, "InstallDir", "\\\\Software\\Framekeep\\Install").kind,
            RegValueKind::kMissing);
  EXPECT_EQ(Find(body, "InstallDir", "Software\\Framekeep").kind, RegValueKind::kMissing);
  // A name ends at a NUL, as it does for the Windows registry functions.
  EXPECT_TRUE(IsText(Find(body, std::string("InstallDir\0x", 12)), "C:\\FK"));
}

TEST(WineRegistryNames, DuplicateKeyBlocksMerge) {
  std::string body = std::string(kKeyLine) +
                     "\"InstallDir\"=\"old\"\n"
                     "\"Other\"=\"from the first block\"\n"
                     "\n[Software\\\\Other] 1\n\"InstallDir\"=\"elsewhere\"\n"
                     "\n[software\\\\FRAMEKEEP\\\\install] 2\n"
                     "\"installdir\"=\"new\"\n";
  EXPECT_TRUE(IsText(Find(body), "new"));
  EXPECT_TRUE(IsText(Find(body, "Other"), "from the first block"));
}

TEST(WineRegistryNames, EscapedCharactersInNames) {
  std::string body =
      "[Software\\\\Frame\\[keep\\]\\\\Install] 1\n"
      "\"Install\\\"Dir\\\\x\"=\"quoted\"\n"
      "\"Install Dir\"   =\t\"blanks\"\n";
  EXPECT_TRUE(IsText(Find(body, "Install\"Dir\\x", "Software\\Frame[keep]\\Install"), "quoted"));
  EXPECT_TRUE(IsText(Find(body, "Install Dir", "Software\\Frame[keep]\\Install"), "blanks"));
}

TEST(WineRegistryNames, DefaultValueAndHiveRoot) {
  std::string body = std::string(kKeyLine) + "@=\"default\"\n" + "[] 1\n\"AtRoot\"=\"root\"\n";
  EXPECT_TRUE(IsText(Find(body, ""), "default"));
  EXPECT_TRUE(IsText(Find(body + kKeyLine + "\"\" = \"quoted default\"\n", ""), "quoted default"));
  EXPECT_TRUE(IsText(Find(body, "AtRoot", ""), "root"));
  EXPECT_TRUE(IsText(Find(body, "AtRoot", "\\"), "root"));
}

// Any text at all gives an answer: cut a sample file at every length and
// damage it at random.
TEST(WineRegistryRobustness, SurvivesTruncationAndCorruption) {
  const std::string sample = RegFile(std::string(kKeyLine) +
                                     "\"InstallDir\"=str(2):\"C:\\\\F\\x20ac\\101\\\"K\"\n"
                                     "\"Blob\"=hex(1):41,00,\\\n  42,00\n"
                                     "@=dword:00000001\n"
                                     "[Software\\\\\\[x\\]] 1\n\"a\\\\b\"=hex(2):e9,00\n");
  for (size_t length = 0; length <= sample.size(); ++length) {
    FindWineRegValue(sample.substr(0, length), kKey, "InstallDir");
  }
  const char kAlphabet[] = "\\\"[]@=:(),#;\r\n\0x0719afAF \xC3\xA9\xFF";
  const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
  std::mt19937 random(12345);
  for (int round = 0; round < 5000; ++round) {
    std::string text = sample;
    int edits = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < edits; ++i) {
      size_t at = random() % (text.size() + 1);
      char c = alphabet[random() % alphabet.size()];
      if (at == text.size() || random() % 2 == 0) {
        text.insert(at, 1, c);
      } else {
        text[at] = c;
      }
    }
    RegValue value = FindWineRegValue(text, kKey, "InstallDir");
    EXPECT_TRUE(value.kind != RegValueKind::kText || value.text.find('\0') == std::string::npos);
  }
}

// ReadUserRegValue on a real prefix directory.
class UserRegFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/wineregXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    Save("WINEPREFIX", &saved_prefix_);
    Save("HOME", &saved_home_);
  }
  void TearDown() override {
    Restore("WINEPREFIX", saved_prefix_);
    Restore("HOME", saved_home_);
    std::filesystem::remove_all(dir_);
  }

  void WriteUserReg(const std::string& prefix, const std::string& value) {
    std::filesystem::create_directories(prefix);
    std::ofstream(prefix + "/user.reg")
        << RegFile(std::string(kKeyLine) + "\"InstallDir\"=\"" + value + "\"\n");
  }

  std::string dir_;

 private:
  static void Save(const char* name, std::optional<std::string>* saved) {
    const char* value = getenv(name);
    if (value) *saved = value;
  }
  static void Restore(const char* name, const std::optional<std::string>& saved) {
    if (saved) {
      setenv(name, saved->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  std::optional<std::string> saved_prefix_;
  std::optional<std::string> saved_home_;
};

TEST_F(UserRegFileTest, ReadsUserRegOfWinePrefix) {
  WriteUserReg(dir_ + "/prefix", "C:\\\\From prefix");
  WriteUserReg(dir_ + "/.wine", "C:\\\\From home");
  setenv("HOME", dir_.c_str(), 1);
  setenv("WINEPREFIX", (dir_ + "/prefix//").c_str(), 1);
  EXPECT_TRUE(IsText(ReadUserRegValue(kKey, "InstallDir"), "C:\\From prefix"));
  setenv("WINEPREFIX", "", 1);
  EXPECT_TRUE(IsText(ReadUserRegValue(kKey, "InstallDir"), "C:\\From home"));
  unsetenv("WINEPREFIX");
  EXPECT_TRUE(IsText(ReadUserRegValue(kKey, "InstallDir"), "C:\\From home"));
}

TEST_F(UserRegFileTest, UnreadableUserRegIsMissing) {
  setenv("WINEPREFIX", (dir_ + "/nowhere").c_str(), 1);
  EXPECT_EQ(ReadUserRegValue(kKey, "InstallDir").kind, RegValueKind::kMissing);
  std::filesystem::create_directories(dir_ + "/dirprefix/user.reg");
  setenv("WINEPREFIX", (dir_ + "/dirprefix").c_str(), 1);
  EXPECT_EQ(ReadUserRegValue(kKey, "InstallDir").kind, RegValueKind::kMissing);
}

}  // namespace
