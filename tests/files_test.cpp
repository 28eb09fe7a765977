// The data file's contract, the same in both builds: what a pin, an open, a read and a
// replacement do, checked through files.h on a real folder (under Wine for Keepxfer.exe).
#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "base/Errors.h"
#include "tests/DataFileFixture.h"
#include "tests/ErrorOf.h"
#include "tests/TestFiles.h"

namespace fs = std::filesystem;

namespace {

using DataFileContract = DataFileFixture;

// The new contents go into a new file that takes the name: the old file itself is never written
// (another name for it keeps the old bytes), nothing is left beside it, and the pin holds the new
// file, so that it can be replaced again.
TEST_F(DataFileContract, AReplacementIsANewFileThatTakesTheName) {
  const std::string other_name = dir_ / "old.DAT";
  fs::create_hard_link(data_, other_name);
  DataFilePin pin(data_);
  ReplaceDataFile(pin, kNew);
  EXPECT_TRUE(ReadFileBytes(data_) == kNew);
  EXPECT_TRUE(ReadFileBytes(other_name) == kOld);
  EXPECT_EQ(Listing(), std::set<std::string>{"Targets.DAT"});
  ReplaceDataFile(pin, kOld);
  EXPECT_TRUE(Load(data_) == kOld);
  EXPECT_EQ(Listing(), std::set<std::string>{"Targets.DAT"});
}

// A file put in the pinned file's place after the pin (once the run's turn has ended, when
// another program may replace it anywhere) is neither read nor replaced.
TEST_F(DataFileContract, TheFileReplacedIsTheFileThatWasPinned) {
  const std::string other = dir_ / "other.DAT";
  DataFilePin pin(data_);
  pin.EndTurn();
  WriteFileBytes(other, "someone else's\n");
  fs::rename(other, data_);
  EXPECT_EQ(ErrorOf([&] { DataFile file(pin, FileAccess::kRead); }),
            "EInOutError: File access denied");
  EXPECT_EQ(ErrorOf([&] { ReplaceDataFile(pin, kNew); }), "EInOutError: File access denied");
  EXPECT_EQ(ReadFileBytes(data_), "someone else's\n");
  EXPECT_EQ(Listing(), std::set<std::string>{"Targets.DAT"});
}

TEST_F(DataFileContract, MissingFilesFoldersAndFolderNames) {
  fs::remove(data_);
  {
    // A missing file is pinned as missing: it cannot be opened, and a replacement makes it.
    DataFilePin pin(data_);
    EXPECT_EQ(ErrorOf([&] { DataFile file(pin, FileAccess::kRead); }),
              "EInOutError: File not found");
    ReplaceDataFile(pin, kNew);
  }
  EXPECT_TRUE(ReadFileBytes(data_) == kNew);
  EXPECT_EQ(ErrorOf([&] { DataFilePin pin(dir_ / "No Such Folder/Targets.DAT"); }),
            "EInOutError: Invalid filename");
  // A folder is no data file.
  fs::create_directory(dir_ / "Folder.DAT");
  EXPECT_EQ(ErrorOf([&] { Load(dir_ / "Folder.DAT"); }), "EInOutError: File access denied");
}

TEST_F(DataFileContract, AReadStopsAtTheEndOfTheFile) {
  DataFilePin pin(data_);
  DataFile file(pin, FileAccess::kRead);
  std::string head(4, '\0');
  EXPECT_EQ(file.Read(&head[0], head.size()), 4u);
  EXPECT_EQ(head, std::string("\x01\x00\x03\x00", 4));
  std::string rest(1000, '\0');
  EXPECT_EQ(file.Read(&rest[0], rest.size()), kOld.size() - 4);
  EXPECT_EQ(file.Read(&rest[0], rest.size()), 0u);
}

// The exchange file is told apart from the data file by identity, not by name.
TEST_F(DataFileContract, ThePinnedFileByAnyNameAndExistingFiles) {
  const std::string other_name = dir_ / "same.DAT";
  const std::string copy = dir_ / "copy.DAT";
  fs::create_hard_link(data_, other_name);
  fs::copy_file(data_, copy);
  DataFilePin pin(data_);
  EXPECT_TRUE(IsPinnedFile(data_, pin));
  EXPECT_TRUE(IsPinnedFile(other_name, pin));
  EXPECT_FALSE(IsPinnedFile(copy, pin));
  EXPECT_FALSE(IsPinnedFile(dir_ / "missing.DAT", pin));
  EXPECT_TRUE(IsExistingFile(copy));
  EXPECT_FALSE(IsExistingFile(product_));
  EXPECT_FALSE(IsExistingFile(dir_ / "missing.DAT"));
}

}  // namespace

namespace {

// The copy that Windows keeps of a file under a folder it protects, for a program without an
// execution level: the name without its drive, under VirtualStore; none for a name that is not
// virtualised.
TEST(VirtualStore, TheCopysNameIsTheNameWithoutItsDrive) {
  const std::string local = "C:\\Users\\ann\\AppData\\Local";
  struct Case {
    std::string data_file;
    std::string copy;
  } cases[] = {
      {"C:\\Program Files\\Framekeep\\Targets.DAT",
       local + "\\VirtualStore\\Program Files\\Framekeep\\Targets.DAT"},
      {"\\\\?\\D:\\Apps\\Framekeep\\\\Targets.DAT",
       local + "\\VirtualStore\\Apps\\Framekeep\\\\Targets.DAT"},
      {"c:/Program Files/Framekeep\\Targets.DAT",
       local + "\\VirtualStore/Program Files/Framekeep\\Targets.DAT"},
      {"\\\\server\\share\\Framekeep\\Targets.DAT", ""},
      {"\\Program Files\\Framekeep\\Targets.DAT", ""},
      {"C:Framekeep\\Targets.DAT", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(VirtualStoreName(local + "\\", c.data_file), c.copy);
  EXPECT_EQ(VirtualStoreName("", "C:\\x\\Targets.DAT"), "");
}

}  // namespace
