// Other programs' handles on Windows: which failures are waited for, and for how long.
#include "win32/held.h"

#include <gtest/gtest.h>

#include "tests/TestFiles.h"
#include "win32/handle.h"
#include "win32/path.h"

namespace {

class OtherProgramsHandles : public ::testing::Test {
 protected:
  void SetUp() override { WriteFileBytes(dir_ / "file.DAT", "bytes"); }
  TempDir dir_;
  std::wstring file_ = LongPath(dir_ / "file.DAT");
};

// Sharing and lock violations always may be another program's handle; access denied only when
// nothing of the file's own refuses this user.
TEST_F(OtherProgramsHandles, OnlyWhatAHandleMayCauseIsWaitedFor) {
  EXPECT_TRUE(MayBeHeldByAnother(ERROR_SHARING_VIOLATION, file_));
  EXPECT_TRUE(MayBeHeldByAnother(ERROR_LOCK_VIOLATION, file_));
  EXPECT_TRUE(MayBeHeldByAnother(ERROR_ACCESS_DENIED, file_));
  EXPECT_FALSE(MayBeHeldByAnother(ERROR_FILE_NOT_FOUND, file_));
  EXPECT_FALSE(MayBeHeldByAnother(ERROR_DISK_FULL, file_));
  {
    // Held without delete sharing, as a scanner may: a rename onto it is refused meanwhile.
    Handle held(CreateFileW(file_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.ok());
    EXPECT_TRUE(MayBeHeldByAnother(ERROR_ACCESS_DENIED, file_));
  }
  ASSERT_TRUE(SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(MayBeHeldByAnother(ERROR_ACCESS_DENIED, file_));
  SetFileAttributesW(file_.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_FALSE(MayBeHeldByAnother(ERROR_ACCESS_DENIED, LongPath(dir_.path())));
}

TEST_F(OtherProgramsHandles, ACallIsTriedAgainForAbout2Seconds) {
  int calls = 0;
  EXPECT_EQ(RetryWhileHeld(file_, [&]() -> DWORD { return ++calls < 4 ? 32 : 0; }), 0u);
  EXPECT_EQ(calls, 4);
  calls = 0;
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(RetryWhileHeld(file_, [&]() -> DWORD { return ++calls, ERROR_LOCK_VIOLATION; }), 33u);
  ULONGLONG waited = GetTickCount64() - start;
  EXPECT_EQ(calls, 13);
  EXPECT_GE(waited, HeldWaitMilliseconds() - 50);
  EXPECT_EQ(HeldWaitMilliseconds(), 1950u);
  calls = 0;
  EXPECT_EQ(RetryWhileHeld(file_, [&]() -> DWORD { return ++calls, ERROR_DISK_FULL; }), 112u);
  EXPECT_EQ(calls, 1);
}

}  // namespace
