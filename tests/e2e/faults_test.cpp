// Faults from outside: full disks, missing permissions, damaged input files,
// broken standard output and a run killed half way. Each case checks the
// message, the exit code and that no file lost data.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "tests/TargetsBuilder.h"
#include "tests/e2e/Sandbox.h"

namespace {

const std::string kBanner = "\r\nFramekeep Export/Import 1.32  https://framekeep.example/\r\n";

std::string Report(const RunResult& r) { return ReportOf(r.err, "keepxfer"); }

class Faults : public ::testing::Test {
 protected:
  void Install(const std::string& data) {
    sb_.SetInstallDir("C:\\Program Files\\Framekeep");
    sb_.WriteData(data);
  }
  // An exchange file of `count` entries, made by a real export.
  std::string ExportedIni(int count) {
    std::string old = sb_.ReadData();
    sb_.WriteData(BuildTargets(SampleEntries(count)));
    std::string path = sb_.ProgramDir() + "/keepxfer.INI";
    unlink(path.c_str());
    EXPECT_EQ(sb_.Run({"-exp"}).code, 0);
    sb_.WriteData(old);
    return ReadFileBytes(path);
  }
  Sandbox sb_;
};

TEST_F(Faults, FullDiskDuringTheSaveKeepsTheOldDataFile) {
  if (!CanUseMountNamespace()) GTEST_SKIP() << "needs root to mount a small tmpfs";
  std::string old = BuildTargets(SampleEntries(20));
  Install(old);
  ExportedIni(60);  // 17,288 bytes of data: more than the disk holds
  std::string saved = sb_.Root() + "/saved.DAT";
  WriteFileBytes(saved, old);
  std::string dir = sb_.ProductDir();
  RunResult r =
      sb_.Run({"-imp"},
              InSmallTmpfs(dir, "16k", "cp '" + saved + "' '" + dir + "/Targets.DAT'",
                           "cp '" + dir + "/Targets.DAT' '" + sb_.Root() + "/after.DAT'; ls -A '" +
                               dir + "' > '" + sb_.Root() + "/listing'"));
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(Report(r), "EInOutError: I/O error 28.");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(ReadFileBytes(sb_.Root() + "/after.DAT"), old);
  EXPECT_EQ(ReadFileBytes(sb_.Root() + "/listing"), "Targets.DAT\n");  // no temporary file left
}

TEST_F(Faults, PermissionsOfAnotherUser) {
  if (std::string why = WhyNotUnprivileged(); !why.empty()) GTEST_SKIP() << why;
  std::string data = BuildTargets(SampleEntries(3));
  Install(data);
  WriteFileBytes(sb_.ProgramDir() + "/in.ini", ExportedIni(5));
  RunOptions nobody;
  nobody.unprivileged = true;

  // A folder the user may not write: the export cannot create its file.
  chmod(sb_.ProgramDir().c_str(), 0555);
  RunResult r = sb_.Run({"-exp", "-fil=new.ini"}, nobody);
  EXPECT_EQ(Report(r), "EIniFileException: Unable to write to " + sb_.ProgramDir() + "/new.ini.");
  EXPECT_EQ(r.code, 1);
  chmod(sb_.ProgramDir().c_str(), 0777);

  // A product folder that refuses new files: the data file is rewritten in place.
  chmod(sb_.ProductDir().c_str(), 0555);
  chmod(sb_.DataFile().c_str(), 0666);
  r = sb_.Run({"-imp", "-fil=in.ini"}, nobody);
  EXPECT_EQ(r.out, kBanner + "5 entries loaded from " + sb_.ProgramDir() + "/in.ini.\r\n") << r.err;
  EXPECT_TRUE(sb_.ReadData() == BuildTargets(SampleEntries(5)));
  chmod(sb_.ProductDir().c_str(), 0777);

  // A data file the user may not read at all.
  chmod(sb_.DataFile().c_str(), 0);
  r = sb_.Run({}, nobody);
  EXPECT_EQ(Report(r), "EInOutError: File access denied.");
  EXPECT_EQ(r.code, 1);
}

TEST_F(Faults, DamagedDataFiles) {
  sb_.SetInstallDir("C:\\Program Files\\Framekeep");
  for (std::int32_t count : {-1, -2147483647 - 1, 7456541}) {
    sb_.WriteData(BuildTargets({}, 1, 3, count));
    RunResult r = sb_.Run({"-exp"});
    EXPECT_EQ(Report(r), "ERangeError: Range check error.") << count;
    EXPECT_EQ(r.code, 1);
  }
  // A header that promises more entries than the file holds: the rest are zero.
  std::string data = BuildTargets(SampleEntries(2), 1, 3, 3);
  sb_.WriteData(data);
  RunResult r = sb_.Run({"-exp"});
  EXPECT_EQ(r.out, kBanner + "3 entries saved to " + sb_.ProgramDir() + "/keepxfer.INI\r\n");
  std::string ini = ReadFileBytes(sb_.ProgramDir() + "/keepxfer.INI");
  EXPECT_NE(ini.find("[Entry2]\r\nWindowName=<blank>\r\nClassName=<blank>\r\nAction=0\r\n"
                     "SearchMethod=ClassName\r\nSetPosition=N\r\n"),
            std::string::npos);
  EXPECT_EQ(sb_.ReadData(), data);
}

TEST_F(Faults, DamagedRegistryFiles) {
  std::string junk = "WINE REGISTRY Version 2\n";
  std::mt19937 random(7);
  for (int i = 0; i < 4000; ++i) junk += static_cast<char>(random() % 256);
  junk +=
      "\n[Software\\\\Framekeep\\\\Install\n\"InstallDir\"=\"C:\\\\x\n\"InstallDir\"=hex(1):41,"
      "\\\n";
  sb_.WriteRegistry(junk);
  RunResult r = sb_.Run({});
  EXPECT_EQ(r.out, kBanner + "Framekeep not installed!\r\n");
  EXPECT_EQ(r.code, 1);
  // Broken lines around a good record do not hide it.
  sb_.WriteRegistry(
      "WINE REGISTRY Version 2\n\x01\x02 junk\n[Software\\\\Framekeep\\\\Install] 1\n"
      "garbage line\n\"Other\"=dword:zz\n\"InstallDir\"=\"C:\\\\Program Files\\\\Framekeep\"\n");
  sb_.WriteData(BuildTargets({}));
  r = sb_.Run({});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
}

TEST_F(Faults, UnusualExchangeFiles) {
  std::string data = BuildTargets({});
  Install(data);
  // A 100,000-character line, a NUL inside a value and no line end at the end.
  std::string ini = "[Header]\nWord1=1\nWord3=3\nNumEntries=1\n;" + std::string(100000, 'x') +
                    "\n[Defaults]\nDefaultPositionHorizontal=0\nDefaultPositionVertical=0\n"
                    "DefaultSizeHorizontal=0\nDefaultSizeVertical=0\n[Entry0]\nWindowName=ab" +
                    std::string(1, '\0') +
                    "cd\nClassName=C\nAction=Resize\nSearchMethod=ClassName\n"
                    "SetPosition=Y\nPositionHorizontal=1\nPositionVertical=2\nSizeHorizontal=3\n"
                    "SizeVertical=4";
  WriteFileBytes(sb_.ProgramDir() + "/odd.ini", ini);
  RunResult r = sb_.Run({"-imp", "-fil=odd.ini"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(sb_.ReadData(), BuildTargets({MakeEntry("ab", "C", 5, 0, 1, 1, 2, 3, 4)}));

  // Binary junk: the import fails cleanly and leaves the data file.
  std::mt19937 random(11);
  std::string junk;
  for (int i = 0; i < 20000; ++i) junk += static_cast<char>(random() % 256);
  WriteFileBytes(sb_.ProgramDir() + "/junk.ini", junk);
  std::string before = sb_.ReadData();
  r = sb_.Run({"-imp", "-fil=junk.ini"});
  EXPECT_EQ(Report(r), "EIniFileException: " + sb_.ProgramDir() +
                           "/junk.ini: [Header] is missing: this is no exchange file.");
  EXPECT_EQ(sb_.ReadData(), before);
}

}  // namespace

namespace {

// A closed standard output keeps its slot: the data file opened later cannot
// take its place and receive the console lines. The banner already fails, so
// the import never starts.
TEST_F(Faults, ClosedStandardOutput) {
  std::string data = BuildTargets(SampleEntries(2));
  Install(data);
  ExportedIni(3);
  RunOptions closed;
  closed.stdout_mode = StdoutMode::kClosed;
  RunResult r = sb_.Run({"-imp"}, closed);
  EXPECT_EQ(Report(r), "EInOutError: I/O error 9.");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(sb_.ReadData() == data);
}

}  // namespace

namespace {

// Without /proc the switches still come from the command line, and only a run that needs the
// program's folder fails, with a clear report.
TEST_F(Faults, WithoutProc) {
  if (!CanUseMountNamespace()) GTEST_SKIP() << "needs root to unmount /proc in a namespace";
#ifdef KEEPXFER_SANITIZED
  GTEST_SKIP() << "AddressSanitizer itself needs /proc";
#endif
  Install(BuildTargets(SampleEntries(2)));
  RunOptions no_proc;
  no_proc.wrapper = {"unshare", "-m", "sh", "-c", "umount -l /proc || exit 99; exec \"$@\"", "sh"};
  RunResult r = sb_.Run({"-Hlp"}, no_proc);
  EXPECT_EQ(r.out.rfind(kBanner + "Usage: Keepxfer", 0), 0u) << r.out;
  EXPECT_EQ(r.code, 0);
  r = sb_.Run({"-Exp"}, no_proc);
  EXPECT_EQ(Report(r),
            "EInOutError: The program's own path cannot be read from /proc/self/exe (File not "
            "found).");
  EXPECT_EQ(r.code, 1);
  std::string absolute = sb_.Root() + "/out.ini";
  r = sb_.Run({"-Exp", "-Fil=" + absolute}, no_proc);
  EXPECT_EQ(r.out, kBanner + "2 entries saved to " + absolute + "\r\n");
}

}  // namespace
