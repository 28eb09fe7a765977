// Program location, default exchange-file name and the error report.
#include <gtest/gtest.h>

#include "app/Report.h"
#include "lib/AppU.h"
#include "lib/Errors.h"
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

TEST(ErrorReport, Layout) {
  EXPECT_EQ(FormatErrorReport("EInOutError", "keepxfer", 0x1a2b, "File not found"),
            "Exception EInOutError in module keepxfer at 00001A2B.\r\nFile not found.\r\n\r\n");
  EXPECT_EQ(FormatErrorReport("EX", "m", 0, "Ends."),
            "Exception EX in module m at 00000000.\r\nEnds.\r\n\r\n");
  EXPECT_EQ(FormatErrorReport("EX", "m", 0, ""),
            "Exception EX in module m at 00000000.\r\n\r\n\r\n");
  EXPECT_EQ(FormatErrorReport("EX", "m", 0, std::string(5000, 'a')).size(), 1024u);
  EXPECT_EQ(ModuleName("/opt/kx/keepxfer"), "keepxfer");
  EXPECT_EQ(ModuleName("C:\\Tools\\Keepxfer.exe"), "Keepxfer.exe");
}

TEST(ErrorReport, InOutMessages) {
  EXPECT_EQ(InOutMessage(2), "File not found");
  EXPECT_EQ(InOutMessage(3), "Invalid filename");
  EXPECT_EQ(InOutMessage(4), "Too many open files");
  EXPECT_EQ(InOutMessage(5), "File access denied");
  EXPECT_EQ(InOutMessage(32), "I/O error 32");
}

}  // namespace
