// The Windows form of a command line built from an argument vector must split back into the
// same arguments.
#include "platform/command-line.h"

#include <gtest/gtest.h>

#include "lib/ParmU.h"

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
