// The default exchange-file name, from the program's own name.
#include "lib/IniU.h"

#include <gtest/gtest.h>

namespace {

TEST(DefaultIniName, ReplacesAThreeLetterExtension) {
  EXPECT_EQ(IniNameForProgram("C:\\Tools\\Keepxfer.exe", '\\'), "C:\\Tools\\Keepxfer.INI");
  EXPECT_EQ(IniNameForProgram("C:\\Tools\\Copy.exe", '\\'), "C:\\Tools\\Copy.INI");
  EXPECT_EQ(IniNameForProgram("/opt/kx/keepxfer", '/'), "/opt/kx/keepxfer.INI");
  EXPECT_EQ(IniNameForProgram("/opt/k.x/keepxfer", '/'), "/opt/k.x/keepxfer.INI");
  EXPECT_EQ(IniNameForProgram("/opt/kx/keep.bin", '/'), "/opt/kx/keep.INI");
  EXPECT_EQ(IniNameForProgram("/opt/kx/keep.ab", '/'), "/opt/kx/keep.ab.INI");
}

}  // namespace
