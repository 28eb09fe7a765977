#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "base/Errors.h"
#include "wine/paths.h"

namespace {

namespace fs = std::filesystem;

// A prefix with drive C: holding the product's data file, and drive Z: at /.
class WinePathsTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/winepathsXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    prefix_ = pattern;
    fs::create_directories(prefix_ + "/drive_c/Program Files/Framekeep");
    fs::create_directories(prefix_ + "/dosdevices");
    fs::create_directory_symlink("../drive_c", prefix_ + "/dosdevices/c:");
    fs::create_directory_symlink("/", prefix_ + "/dosdevices/z:");
    std::ofstream(prefix_ + "/drive_c/Program Files/Framekeep/Targets.DAT") << "data";
    drive_c_ = prefix_ + "/dosdevices/c:";
    product_ = drive_c_ + "/Program Files/Framekeep";
  }
  void TearDown() override { fs::remove_all(prefix_); }

  ResolvedPath Resolve(const std::string& path) { return ResolveProductPath(path, prefix_); }

  std::string prefix_;
  std::string drive_c_;
  std::string product_;
};

void ExpectResolved(const ResolvedPath& resolved, const std::string& path, int error) {
  EXPECT_EQ(resolved.path, path);
  EXPECT_EQ(resolved.error, error);
}

TEST_F(WinePathsTest, DrivePathsGoThroughDosDevices) {
  ExpectResolved(Resolve("C:\\Program Files\\Framekeep\\Targets.DAT"), product_ + "/Targets.DAT",
                 0);
  ExpectResolved(Resolve("c:\\Program Files"), drive_c_ + "/Program Files", 0);
  ExpectResolved(Resolve("C:"), drive_c_, 0);
  // The file is really there, through the drive's symbolic link.
  std::ifstream file(Resolve("C:\\Program Files\\Framekeep\\Targets.DAT").path);
  std::string content;
  file >> content;
  EXPECT_EQ(content, "data");
  ExpectResolved(Resolve("z:\\"), prefix_ + "/dosdevices/z:", 0);
}

TEST_F(WinePathsTest, ComponentsMatchIgnoringCase) {
  ExpectResolved(Resolve("C:\\PROGRAM FILES\\framekeep\\targets.dat"), product_ + "/Targets.DAT",
                 0);
  // An exact name wins over one that differs in case; among several
  // different-case names the choice does not depend on the directory order.
  std::ofstream(product_ + "/targets.dat") << "other";
  std::ofstream(product_ + "/TARGETS.DAT") << "other";
  ExpectResolved(Resolve("C:\\Program Files\\Framekeep\\targets.dat"), product_ + "/targets.dat",
                 0);
  ExpectResolved(Resolve("C:\\Program Files\\Framekeep\\TaRgEtS.dAt"), product_ + "/TARGETS.DAT",
                 0);
}

TEST_F(WinePathsTest, SeparatorsAndRelativeComponents) {
  const std::string expected = product_ + "/Targets.DAT";
  ExpectResolved(Resolve("C:/Program Files//Framekeep\\\\.\\Targets.DAT"), expected, 0);
  ExpectResolved(Resolve("C:\\..\\..\\Program Files\\Missing\\..\\Framekeep\\Targets.DAT"),
                 expected, 0);
  ExpectResolved(Resolve("C:Program Files\\Framekeep\\Targets.DAT"), expected, 0);
  // The installation directory as stored may end in a backslash.
  ExpectResolved(Resolve("C:\\Program Files\\Framekeep\\\\Targets.DAT"), expected, 0);
}

TEST_F(WinePathsTest, TrailingDotsAndSpaces) {
  const std::string expected = product_ + "/Targets.DAT";
  ExpectResolved(Resolve("C:\\Program Files\\Framekeep\\Targets.DAT. . "), expected, 0);
  // A directory loses one dot.
  ExpectResolved(Resolve("C:\\Program Files\\Framekeep.\\Targets.DAT"), expected, 0);
  EXPECT_EQ(Resolve("C:\\Program Files\\Framekeep..\\Targets.DAT").error, kPathNotFound);
}

TEST_F(WinePathsTest, MissingFileIsFileNotFound) {
  ExpectResolved(Resolve("c:\\program files\\FRAMEKEEP\\New File.ini"), product_ + "/New File.ini",
                 kFileNotFound);
}

TEST_F(WinePathsTest, MissingDirectoryIsPathNotFound) {
  EXPECT_EQ(Resolve("C:\\Program Files\\Nope\\Targets.DAT").error, kPathNotFound);
  EXPECT_EQ(Resolve("C:\\Program Files\\Framekeep\\Targets.DAT\\x").error, kPathNotFound);
  EXPECT_EQ(Resolve("D:\\Framekeep\\Targets.DAT").error, kPathNotFound);
  EXPECT_EQ(ResolveProductPath("C:\\x", prefix_ + "/absent").error, kPathNotFound);
  EXPECT_EQ(Resolve("\\\\server\\share\\Targets.DAT").error, kPathNotFound);
  EXPECT_EQ(Resolve("//server/share/Targets.DAT").error, kPathNotFound);
  EXPECT_EQ(Resolve("").error, kPathNotFound);
}

TEST_F(WinePathsTest, InvalidCharactersAreInvalidName) {
  EXPECT_EQ(Resolve("C:\\Program Files\\Frame*\\Targets.DAT").error, 123);
  EXPECT_EQ(Resolve("C:\\Program Files\\Framekeep\\Targets?.DAT").error, 123);
  EXPECT_EQ(Resolve(std::string("C:\\Program Files\0x", 18)).error, 123);
}

TEST_F(WinePathsTest, PosixPathsAreUsedAsGiven) {
  const std::string real = prefix_ + "/drive_c/Program Files/Framekeep";
  ExpectResolved(Resolve(real + "/Targets.DAT"), real + "/Targets.DAT", 0);
  ExpectResolved(Resolve(real + "/targets.dat"), real + "/targets.dat", kFileNotFound);
  ExpectResolved(Resolve(real + "/missing/x.ini"), real + "/missing/x.ini", kPathNotFound);
  ExpectResolved(Resolve(real + "/Targets.DAT/x.ini"), real + "/Targets.DAT/x.ini", kPathNotFound);
}

// A rooted path is on the current drive, which for the program is C:, never the file system's
// root (Wine's drive Z:).
TEST_F(WinePathsTest, RootedPathsAreOnDriveC) {
  ExpectResolved(Resolve("\\Program Files\\Framekeep"), product_, 0);
  ExpectResolved(Resolve("\\PROGRAM FILES/framekeep\\Targets.DAT"), product_ + "/Targets.DAT", 0);
  ExpectResolved(Resolve("\\Program Files\\Framekeep\\New.ini"), product_ + "/New.ini",
                 kFileNotFound);
  ExpectResolved(Resolve("\\tmp"), drive_c_ + "/tmp", kFileNotFound);
  fs::remove(prefix_ + "/dosdevices/c:");
  ExpectResolved(Resolve("\\Program Files\\Framekeep"), drive_c_, kPathNotFound);
}

TEST_F(WinePathsTest, TheLongFormOfADrivePathIsThatDrivePath) {
  ExpectResolved(Resolve("\\\\?\\C:\\Program Files\\Framekeep"), product_, 0);
  ExpectResolved(Resolve("\\\\?\\c:\\program files\\FRAMEKEEP\\targets.dat"),
                 product_ + "/Targets.DAT", 0);
  EXPECT_EQ(Resolve("\\\\?\\D:\\Framekeep").error, kPathNotFound);
  // The long form of a UNC path, or of anything but a drive, is still not supported.
  EXPECT_EQ(Resolve("\\\\?\\UNC\\server\\share\\Targets.DAT").error, kPathNotFound);
  EXPECT_EQ(Resolve("\\\\?\\Volume{0}\\Framekeep").error, kPathNotFound);
  EXPECT_EQ(Resolve("\\\\?\\").error, kPathNotFound);
  // With slashes it is no long form: a path that starts with `/` is a POSIX path.
  ExpectResolved(Resolve("//?/C:/Program Files/Framekeep"), "//?/C:/Program Files/Framekeep",
                 kPathNotFound);
}

TEST_F(WinePathsTest, RelativePathsStartAtCurrentDirectory) {
  const fs::path saved = fs::current_path();
  fs::current_path(prefix_ + "/drive_c/Program Files");
  const std::string cwd = fs::current_path().string();
  ExpectResolved(Resolve("FRAMEKEEP\\targets.dat"), cwd + "/Framekeep/Targets.DAT", 0);
  ExpectResolved(Resolve("..\\program files\\Framekeep\\New.ini"), cwd + "/Framekeep/New.ini",
                 kFileNotFound);
  fs::current_path(saved);
}

// WinePrefix() and the one-argument resolver read the environment.
class WinePrefixTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = getenv("WINEPREFIX")) saved_prefix_ = value;
    if (const char* value = getenv("HOME")) saved_home_ = value;
  }
  void TearDown() override {
    Restore("WINEPREFIX", saved_prefix_);
    Restore("HOME", saved_home_);
  }

 private:
  static void Restore(const char* name, const std::optional<std::string>& saved) {
    if (saved) {
      setenv(name, saved->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  std::optional<std::string> saved_prefix_;
  std::optional<std::string> saved_home_;
};

TEST_F(WinePrefixTest, PrefixFromEnvironment) {
  setenv("HOME", "/home/someone/", 1);
  setenv("WINEPREFIX", "/opt/prefix//", 1);
  EXPECT_EQ(WinePrefix(), "/opt/prefix");
  setenv("WINEPREFIX", "", 1);
  EXPECT_EQ(WinePrefix(), "/home/someone/.wine");
  unsetenv("WINEPREFIX");
  EXPECT_EQ(WinePrefix(), "/home/someone/.wine");
}

TEST_F(WinePrefixTest, ResolverUsesWinePrefix) {
  char pattern[] = "/tmp/wineprefixXXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string prefix = pattern;
  fs::create_directories(prefix + "/drive_c/Framekeep");
  fs::create_directories(prefix + "/dosdevices");
  fs::create_directory_symlink("../drive_c", prefix + "/dosdevices/c:");
  setenv("WINEPREFIX", (prefix + "/").c_str(), 1);
  ExpectResolved(ResolveProductPath("C:\\framekeep\\Targets.DAT"),
                 prefix + "/dosdevices/c:/Framekeep/Targets.DAT", kFileNotFound);
  fs::remove_all(prefix);
}

}  // namespace
