// The Windows form of a command line built from an argument vector must split back into the
// same arguments.
#include "platform/command-line.h"

#include <gtest/gtest.h>

#include "lib/ParmU.h"
#include "platform/process.h"

namespace {

using Args = std::vector<std::string>;

TEST(JoinArguments, QuotesWhatWouldSplitAndDoublesQuotes) {
  EXPECT_EQ(JoinArguments({"/opt/kx/keepxfer", "-Exp", "-Fil=x.ini"}),
            "/opt/kx/keepxfer -Exp -Fil=x.ini");
  EXPECT_EQ(JoinArguments({"p", "-Fil=my rules.ini", "", "tab\there"}),
            "p \"-Fil=my rules.ini\" \"\" \"tab\there\"");
  EXPECT_EQ(JoinArguments({"p", "-Fil=a\"b.ini", "\""}), "p \"-Fil=a\"\"b.ini\" \"\"\"\"");
  // Commas split, as they do on Windows.
  EXPECT_EQ(JoinArguments({"p", "-Fil=a,b.ini"}), "p -Fil=a,b.ini");
}

TEST(JoinArguments, SplitsBackIntoTheArguments) {
  for (const Args& args : {Args{"p", "-fil=q\"uote.ini"}, Args{"p", "\"-exp\"", "a b", ""},
                           Args{"p", "say \"\"hi\"\"", "\x01\x1f"}}) {
    EXPECT_EQ(SplitCommandLine(JoinArguments(args)), args);
  }
}

}  // namespace

namespace {

// The names that -Fil and -Bak refuse on Windows: a drive without a folder, a ':' after the drive.
TEST(FileNames, WindowsRefusesDriveRelativeNamesAndStreams) {
  const bool windows = PathSeparator() == '\\';
  struct Case {
    const char* name;
    bool refused_on_windows;
  } cases[] = {
      {"rules.ini", false},
      {"D:\\rules.ini", false},
      {"\\\\?\\D:\\rules.ini", false},
      {"D:rules.ini", true},
      {"D:", true},
      {"rules.ini:x", true},
      {"C:\\x\\r.ini:s", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(!WhyNoFileName(c.name).empty(), windows && c.refused_on_windows) << c.name;
  }
}

}  // namespace
