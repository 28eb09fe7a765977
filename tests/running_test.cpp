// The running-product guard's folder rule, the same in both builds: a program counts only when
// its file lies directly in the installation folder, compared as Windows compares folder names.
#include "platform/running.h"

#include <gtest/gtest.h>

namespace {

TEST(RunningProduct, OnlyAProgramDirectlyInTheInstallFolderCounts) {
  const std::string folder = "C:\\Program Files\\Framekeep";
  EXPECT_TRUE(IsDirectlyInFolder("C:\\Program Files\\Framekeep\\Framekeep.exe", folder));
  EXPECT_TRUE(IsDirectlyInFolder("C:\\Program Files\\Framekeep\\Helper.exe", folder));
  // Letter case, separators, doubled and trailing ones do not matter.
  EXPECT_TRUE(IsDirectlyInFolder("c:/PROGRAM FILES//framekeep/FRAMEKEEP.EXE", folder));
  EXPECT_TRUE(IsDirectlyInFolder("C:\\Program Files\\Framekeep\\Framekeep.exe",
                                 "c:\\program files\\FRAMEKEEP\\\\"));
  // A subfolder, a folder that merely begins like it, another drive or folder: no.
  EXPECT_FALSE(IsDirectlyInFolder("C:\\Program Files\\Framekeep\\sub\\Framekeep.exe", folder));
  EXPECT_FALSE(IsDirectlyInFolder("C:\\Program Files\\Framekeep2\\Framekeep.exe", folder));
  EXPECT_FALSE(IsDirectlyInFolder("C:\\Program Files\\Framekee\\Framekeep.exe", folder));
  EXPECT_FALSE(IsDirectlyInFolder("D:\\Program Files\\Framekeep\\Framekeep.exe", folder));
  EXPECT_FALSE(IsDirectlyInFolder("C:\\Program Files\\Framekeep", folder));
  EXPECT_FALSE(IsDirectlyInFolder("Framekeep.exe", folder));
  // Only ASCII letters fold, as in the rest of the tool.
  EXPECT_FALSE(
      IsDirectlyInFolder("C:\\Programme\\\xC9t\xE9\\Framekeep.exe", "C:\\Programme\\\xE9t\xE9"));
}

}  // namespace
