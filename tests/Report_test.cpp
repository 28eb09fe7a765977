// The error report's layout and the messages of the input/output errors.
#include "app/Report.h"

#include <gtest/gtest.h>

#include "base/Errors.h"

namespace {

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
