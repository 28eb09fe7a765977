// Program location and the default exchange-file name.
#include <gtest/gtest.h>

#include "lib/AppU.h"
#include "lib/IniU.h"

namespace {

TEST(ProgramLocation, DirectoryKeepsOnlyARootSeparator) {
  EXPECT_EQ(DirectoryOfProgram("C:\\prog\\tool.exe", '\\'), "C:\\prog");
  EXPECT_EQ(DirectoryOfProgram("C:\\tool.exe", '\\'), "C:\\");
  EXPECT_EQ(DirectoryOfProgram("C:tool.exe", '\\'), "C:");
  EXPECT_EQ(DirectoryOfProgram("/opt/kx/keepxfer", '/'), "/opt/kx");
  EXPECT_EQ(DirectoryOfProgram("/keepxfer", '/'), "/");
}

TEST(ProgramLocation, DefaultIniNameReplacesAThreeLetterExtension) {
  EXPECT_EQ(IniNameForProgram("C:\\Tools\\Keepxfer.exe", '\\'), "C:\\Tools\\Keepxfer.INI");
  EXPECT_EQ(IniNameForProgram("C:\\Tools\\Copy.exe", '\\'), "C:\\Tools\\Copy.INI");
  EXPECT_EQ(IniNameForProgram("/opt/kx/keepxfer", '/'), "/opt/kx/keepxfer.INI");
  EXPECT_EQ(IniNameForProgram("/opt/k.x/keepxfer", '/'), "/opt/k.x/keepxfer.INI");
  EXPECT_EQ(IniNameForProgram("/opt/kx/keep.bin", '/'), "/opt/kx/keep.INI");
  EXPECT_EQ(IniNameForProgram("/opt/kx/keep.ab", '/'), "/opt/kx/keep.ab.INI");
}

}  // namespace
