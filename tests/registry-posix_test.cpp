// The current user's registry on POSIX: user.reg of the Wine prefix, read whole or not at all.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "tests/FaultyIo.h"
#include "tests/TestFiles.h"

namespace {

class UserRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix != nullptr) saved_ = prefix;
    setenv("WINEPREFIX", dir_.path().c_str(), 1);
    WriteFileBytes(dir_ / "user.reg",
                   "WINE REGISTRY Version 2\n\n[Software\\\\Framekeep\\\\Install] 1\n"
                   "\"InstallDir\"=\"C:\\\\Framekeep\"\n");
  }
  void TearDown() override {
    if (saved_.empty()) {
      unsetenv("WINEPREFIX");
    } else {
      setenv("WINEPREFIX", saved_.c_str(), 1);
    }
  }
  static RegValue Install() {
    return ReadUserRegValue("Software\\Framekeep\\Install", "InstallDir");
  }

  TempDir dir_;
  std::string saved_;
};

TEST_F(UserRegistry, AHiveThatCannotBeReadWholeIsNoHive) {
  RegValue value = Install();
  EXPECT_EQ(value.kind, RegValueKind::kText);
  EXPECT_EQ(value.text, "C:\\Framekeep");
  {
    // A read that fails half way gives nothing rather than part of the file.
    FaultyIo io;
    io.FailAt(FaultyIo::kRead, "/user.reg", 1, EIO);
    ScopedIo scoped(&io);
    EXPECT_EQ(Install().kind, RegValueKind::kMissing);
  }
  // A named pipe in its place is not waited on.
  unlink((dir_ / "user.reg").c_str());
  ASSERT_EQ(mkfifo((dir_ / "user.reg").c_str(), 0666), 0);
  EXPECT_EQ(Install().kind, RegValueKind::kMissing);
}

}  // namespace
