#include "lib/ParmU.h"

#include <gtest/gtest.h>

namespace {

using Items = std::vector<std::string>;

TEST(SplitCommandLine, BlanksAndCommasSeparateItems) {
  EXPECT_EQ(SplitCommandLine("  prog -Exp\t-Fil=a,b.ini"),
            (Items{"prog", "-Exp", "-Fil=a", "b.ini"}));
  EXPECT_EQ(SplitCommandLine("a,,b"), (Items{"a", "", "b"}));
  EXPECT_EQ(SplitCommandLine("a , b"), (Items{"a", "b"}));
  EXPECT_EQ(SplitCommandLine("a,"), (Items{"a", ""}));
  EXPECT_EQ(SplitCommandLine("a,,"), (Items{"a", "", ""}));
  EXPECT_EQ(SplitCommandLine(""), Items{});
  EXPECT_EQ(SplitCommandLine("   "), Items{});
}

TEST(SplitCommandLine, QuotedItems) {
  EXPECT_EQ(SplitCommandLine("\"C:\\My Tools\\kx.exe\" -exp"),
            (Items{"C:\\My Tools\\kx.exe", "-exp"}));
  // Quotes around the whole switch keep the blank; quotes after "=" do not.
  EXPECT_EQ(SplitCommandLine("p \"-Fil=my file.ini\""), (Items{"p", "-Fil=my file.ini"}));
  EXPECT_EQ(SplitCommandLine("p -Fil=\"my file.ini\""), (Items{"p", "-Fil=\"my", "file.ini\""}));
  EXPECT_EQ(SplitCommandLine("\"say \"\"hi\"\"\""), (Items{"say \"hi\""}));
  EXPECT_EQ(SplitCommandLine("p \"\""), (Items{"p", ""}));
  // A character right behind the closing quote starts a new item.
  EXPECT_EQ(SplitCommandLine("\"ab\"cd"), (Items{"ab", "cd"}));
}

TEST(SplitCommandLine, UnclosedQuoteLosesTheLastCharacter) {
  EXPECT_EQ(SplitCommandLine("p \"abc"), (Items{"p", "ab"}));
  EXPECT_EQ(SplitCommandLine("p \"a"), (Items{"p", ""}));
  EXPECT_EQ(SplitCommandLine("p \"a\"\"bc"), (Items{"p", "a\"b"}));
}

TEST(SplitCommandLine, StopsAtNul) {
  EXPECT_EQ(SplitCommandLine(std::string("a b\0c", 5)), (Items{"a", "b"}));
}

TEST(Switches, NamesMatchWholeAndWithoutCase) {
  InitParmU("prog -EXPORT /Hlp -Expo --imp -Fil=Backup.INI");
  EXPECT_TRUE(FindSwitch("Export"));
  EXPECT_TRUE(FindSwitch("hlp"));
  EXPECT_FALSE(FindSwitch("Exp"));
  EXPECT_FALSE(FindSwitch("Imp"));
  EXPECT_TRUE(FindSwitch("-imp"));
  EXPECT_FALSE(FindSwitch("prog"));
  // Names are lower-cased; the value keeps its letter case.
  EXPECT_EQ(SwitchList()[1], "-export");
  std::string value = "unchanged";
  SwitchValue("FIL", value);
  EXPECT_EQ(value, "Backup.INI");
  FinalParmU();
}

TEST(Switches, ValuesNeverCarryOver) {
  InitParmU("prog -exp=abc -fil");
  std::string value = "before";
  SwitchValue("fil", value);
  EXPECT_EQ(value, "");
  value = "before";
  SwitchValue("bak", value);
  EXPECT_EQ(value, "before");
  InitParmU("prog -fil=first=x -fil=second");
  SwitchValue("fil", value);
  EXPECT_EQ(value, "first=x");
  FinalParmU();
}

TEST(Switches, EmptyItemsAreNotSwitches) {
  InitParmU("prog , \"\" -?");
  EXPECT_TRUE(FindSwitch("?"));
  EXPECT_FALSE(FindSwitch(""));
  FinalParmU();
}

// The items that are no switch of the tool, as typed; empty items and the program's path are
// never looked at.
TEST(Switches, UnknownItemsAsTyped) {
  const std::vector<std::string> known = {"exp", "imp", "Fil", "?", "bak"};
  const std::pair<const char*, const char*> cases[] = {
      {"/usr/bin/kx -EXP /? -fil=A.INI -Bak=x , \"\" -exp=abc", ""},
      {"kx -Imp -File=Mine.ini", "-File=Mine.ini"},
      {"kx -Imp Mine.ini", "Mine.ini"},
      {"kx -Fil=a,b.ini", "b.ini"},
      {"kx --exp -Expo", "--exp"},
      {"kx -", "-"},
      {"kx /", "/"},
  };
  for (const auto& [line, unknown] : cases) {
    InitParmU(line);
    std::string item = "none";
    EXPECT_EQ(FindUnknownItem(known, &item), *unknown != '\0') << line;
    EXPECT_EQ(item, *unknown ? unknown : "none") << line;
  }
  FinalParmU();
}

}  // namespace
