// The error report: its layout, the messages of the input/output errors, and the one place
// that catches errors.
#include "app/Report.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <stdexcept>
#include <utility>

#include "app/Stop.h"
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
  // A platform's own number that equals one of the codes above keeps its own message.
  EXPECT_EQ(InOutMessage(PlainIoError(5)), "I/O error 5");
}

}  // namespace

namespace {

// What `body` writes to standard error, and the exit code, when run as the program's body.
std::pair<int, std::string> RunBody(void (*body)()) {
  std::fflush(stderr);
  std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                     "/report-test-" + std::to_string(reinterpret_cast<std::uintptr_t>(&body));
  FILE* capture = std::fopen(path.c_str(), "w+b");
  int saved = dup(2);
  dup2(fileno(capture), 2);
  int code = RunReportingErrors(body);
  dup2(saved, 2);
  close(saved);
  std::fseek(capture, 0, SEEK_SET);
  std::string text;
  for (int c; (c = std::fgetc(capture)) != EOF;) text += static_cast<char>(c);
  std::fclose(capture);
  std::remove(path.c_str());
  return {code, text};
}

TEST(ErrorReport, EveryErrorEndsWithItsReport) {
  auto tool = RunBody([] { RaiseError(kConvertError, "'x' is not a valid integer value"); });
  EXPECT_EQ(tool.first, 1);
  EXPECT_TRUE(std::regex_match(tool.second,
                               std::regex("Exception EConvertError in module [^ ]+ at [0-9A-F]{8}"
                                          "\\.\r\n'x' is not a valid integer value\\.\r\n\r\n")))
      << tool.second;
  // An error of the C++ library is reported the same way, under its class name.
  auto library = RunBody([] { throw std::out_of_range("index 7 out of range"); });
  EXPECT_EQ(library.first, 1);
  EXPECT_TRUE(std::regex_match(library.second,
                               std::regex("Exception std::out_of_range in module [^ ]+ at "
                                          "[0-9A-F]{8}\\.\r\nindex 7 out of range\\.\r\n\r\n")))
      << library.second;
  EXPECT_EQ(RunBody([] { StopWith(kExitIncompatible); }), std::make_pair(2, std::string()));
}

}  // namespace
