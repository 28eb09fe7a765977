// The program's folder.
#include "lib/AppU.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgramLocation, DirectoryKeepsOnlyARootSeparator) {
  EXPECT_EQ(DirectoryOfProgram("C:\\prog\\tool.exe", '\\'), "C:\\prog");
  EXPECT_EQ(DirectoryOfProgram("C:\\tool.exe", '\\'), "C:\\");
  EXPECT_EQ(DirectoryOfProgram("C:tool.exe", '\\'), "C:");
  EXPECT_EQ(DirectoryOfProgram("/opt/kx/keepxfer", '/'), "/opt/kx");
  EXPECT_EQ(DirectoryOfProgram("/keepxfer", '/'), "/");
}

}  // namespace
