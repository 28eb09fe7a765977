// The real program, run in a throw-away installation: output bytes, error
// reports, exit codes and files.
#include <gtest/gtest.h>

#include <regex>

#include "tests/TargetsBuilder.h"
#include "tests/e2e/Sandbox.h"

namespace {

const std::string kBanner = "\r\nFramekeep Export/Import 1.32  https://framekeep.example/\r\n";
const std::string kUsage =
    "Usage: Keepxfer [-Exp[ort]|-Imp[ort] [-Fil=Filename]] {-Bak=FileName} [-?] [-Hlp]\r\n";
const std::string kLongHelp =
    "\r\n"
    "Command Line parameters (all are optional):\r\n"
    "  <none>          Display Entry stats\r\n"
    "  -?              Display Short Help\r\n"
    "  -Hlp            Display Long  Help\r\n"
    "\r\n"
    "  -Exp[ort]       Save Framekeep settings to   FileName\r\n"
    "  -Imp[ort]       Load Framekeep settings from FileName\r\n"
    "  -Fil=FileName   Specify FileName\r\n"
    " {-Bak=FileName   Specify Backup FileName} FUTURE\r\n"
    "\r\n"
    "Notes:\r\n"
    "  If Filename is not specified, then Keepxfer.INI is used.\r\n"
    "  This version of Keepxfer is compatible only with Framekeep 1.61 (2006-09-19)\r\n"
    "  More information is available at https://framekeep.example/forum\r\n";
const std::string kInstall = "C:\\Program Files\\Framekeep";

// Matches an error report and answers "<kind>: <message line>".
std::string ReportOf(const std::string& err) {
  static const std::regex report(
      "Exception (\\w+) in module keepxfer at [0-9A-F]{8}\\.\r\n([^\r\n]*)\r\n\r\n");
  std::smatch m;
  if (!std::regex_match(err, m, report)) return "not a report: " + err;
  return m[1].str() + ": " + m[2].str();
}

class Cli : public ::testing::Test {
 protected:
  void Install(const std::string& data) {
    sb_.SetInstallDir(kInstall);
    sb_.WriteData(data);
  }
  Sandbox sb_;
};

TEST_F(Cli, StatsShowsLocationAndVersion) {
  Install(BuildTargets(SampleEntries(2)));
  RunResult r = sb_.Run({});
  EXPECT_EQ(r.out, kBanner + "  Location: " + kInstall + "\r\n  Targets.DAT version: OK\r\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.code, 0);
}

TEST_F(Cli, HelpModes) {
  // The long help needs neither the registry nor the data file.
  RunResult r = sb_.Run({"-Hlp"});
  EXPECT_EQ(r.out, kBanner + kUsage + kLongHelp);
  EXPECT_EQ(r.code, 0);
  r = sb_.Run({"-?"});
  EXPECT_EQ(r.out, kBanner + kUsage + "Framekeep not installed!\r\n");
  EXPECT_EQ(r.code, 1);
  Install(BuildTargets({}));
  r = sb_.Run({"/?"});
  EXPECT_EQ(r.out, kBanner + kUsage);
  EXPECT_EQ(r.code, 0);
}

TEST_F(Cli, LaterModeSwitchesWin) {
  Install(BuildTargets(SampleEntries(1)));
  std::string ini = sb_.ProgramDir() + "/keepxfer.INI";
  EXPECT_EQ(sb_.Run({"-Imp", "-Exp"}).out, kBanner + "1 entries saved to " + ini + "\r\n");
  EXPECT_EQ(sb_.Run({"-EXPORT", "-?"}).out, kBanner + kUsage);
  EXPECT_EQ(sb_.Run({"-?", "/hlp"}).out, kBanner + kUsage + kLongHelp);
  // Not switches of the tool: stats.
  RunResult r = sb_.Run({"-Expo", "--exp", "export"});
  EXPECT_EQ(r.out, kBanner + "  Location: " + kInstall + "\r\n  Targets.DAT version: OK\r\n");
}

TEST_F(Cli, NotInstalled) {
  for (const std::string& reg :
       {std::string(), std::string("WINE REGISTRY Version 1\n"),
        std::string("WINE REGISTRY Version 2\n\n[Software\\\\Framekeep\\\\Install] 1\n")}) {
    if (!reg.empty()) sb_.WriteRegistry(reg);
    for (const char* mode : {"", "-Exp", "-Imp"}) {
      RunResult r = sb_.Run(*mode ? std::vector<std::string>{mode} : std::vector<std::string>{});
      EXPECT_EQ(r.out, kBanner + "Framekeep not installed!\r\n") << reg << mode;
      EXPECT_EQ(r.code, 1);
    }
  }
  sb_.SetInstallValue("\"\"");
  EXPECT_EQ(sb_.Run({}).out, kBanner + "Framekeep not installed!\r\n");
}

TEST_F(Cli, IncompatibleDataFiles) {
  sb_.SetInstallDir(kInstall);
  const std::string location = "  Location: " + kInstall + "\r\n";
  struct Case {
    std::string data, line;
  } cases[] = {{std::string("\x01\x00", 2), "  Targets.DAT version 1.0 not compatible!\r\n"},
               {std::string("\x01", 1), "  Targets.DAT version 1.0 not compatible!\r\n"},
               {"", "  Targets.DAT version 0.0 not compatible!\r\n"},
               {BuildTargets({}, 1, 4), "  Targets.DAT version 1.4 not compatible!\r\n"},
               {BuildTargets({}, 65535, 3), "  Targets.DAT version 65535.3 not compatible!\r\n"}};
  for (const Case& c : cases) {
    sb_.WriteData(c.data);
    RunResult r = sb_.Run({});
    EXPECT_EQ(r.out, kBanner + location + c.line);
    EXPECT_EQ(r.code, 2);
    r = sb_.Run({"-Exp"});
    EXPECT_EQ(r.out, kBanner + c.line);
    EXPECT_EQ(r.code, 2);
  }
}

TEST_F(Cli, FileErrorsEndWithTheReport) {
  sb_.SetInstallDir(kInstall);
  RunResult r = sb_.Run({});
  EXPECT_EQ(r.out, kBanner + "  Location: " + kInstall + "\r\n");
  EXPECT_EQ(ReportOf(r.err), "EInOutError: File not found.");
  EXPECT_EQ(r.code, 1);
  sb_.SetInstallDir("C:\\No Such Folder\\Framekeep");
  EXPECT_EQ(ReportOf(sb_.Run({"-?"}).err), "EInOutError: Invalid filename.");
  // A data file that is a directory cannot be opened as a file.
  sb_.SetInstallDir(kInstall);
  std::system(("mkdir '" + sb_.DataFile() + "'").c_str());
  EXPECT_EQ(ReportOf(sb_.Run({"-Exp"}).err), "EInOutError: File access denied.");
}

TEST_F(Cli, RegistryValuesOfOtherTypes) {
  sb_.SetInstallValue("dword:00000001");
  RunResult r = sb_.Run({});
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(ReportOf(r.err), "ERegistryException: Invalid data type for 'InstallDir'.");
  EXPECT_EQ(r.code, 1);
  // An empty binary value is treated as missing.
  sb_.SetInstallValue("hex:");
  EXPECT_EQ(sb_.Run({}).out, kBanner + "Framekeep not installed!\r\n");
}

TEST_F(Cli, InstallPathMatchesFoldersWithoutCase) {
  sb_.SetInstallDir("c:\\PROGRAM FILES\\framekeep");
  sb_.WriteData(BuildTargets({}));
  RunResult r = sb_.Run({});
  EXPECT_EQ(r.out,
            kBanner + "  Location: c:\\PROGRAM FILES\\framekeep\r\n  Targets.DAT version: OK\r\n");
  EXPECT_EQ(r.code, 0);
}

TEST_F(Cli, ExportAndImportRoundTrip) {
  std::string data = BuildTargets(SampleEntries(12));
  Install(data);
  std::string ini = sb_.ProgramDir() + "/keepxfer.INI";
  RunResult r = sb_.Run({"-Exp"});
  EXPECT_EQ(r.out, kBanner + "12 entries saved to " + ini + "\r\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.code, 0);
  std::string text = ReadFileBytes(ini);
  EXPECT_EQ(
      text.rfind("[Documentation]\r\nActions=Maximize, Minimize, Restore, Center, Resize\r\n", 0),
      0u);
  EXPECT_NE(text.find("[Entry11]\r\nWindowName=Window 11 - Editor\r\n"), std::string::npos);

  sb_.WriteData(BuildTargets({}));
  r = sb_.Run({"-Import"});
  EXPECT_EQ(r.out, kBanner + "12 entries loaded from " + ini + ".\r\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(sb_.ReadData(), data);
}

TEST_F(Cli, ExchangeFileNames) {
  Install(BuildTargets(SampleEntries(3)));
  // The value keeps its letter case and goes into the program's folder.
  RunResult r = sb_.Run({"-exp", "-FIL=Backup.INI"});
  EXPECT_EQ(r.out, kBanner + "3 entries saved to " + sb_.ProgramDir() + "/Backup.INI\r\n");
  EXPECT_TRUE(IsRegular(sb_.ProgramDir() + "/Backup.INI"));
  // An absolute name is used as given; a quoted argument keeps its blank.
  std::string absolute = sb_.Root() + "/my rules.ini";
  r = sb_.Run({"-exp", "-fil=" + absolute});
  EXPECT_EQ(r.out, kBanner + "3 entries saved to " + absolute + "\r\n");
  // A comma splits the value, as on Windows.
  r = sb_.Run({"-exp", "-fil=a,b.ini"});
  EXPECT_EQ(r.out, kBanner + "3 entries saved to " + sb_.ProgramDir() + "/a\r\n");
  // "-Fil" without a value names the folder itself.
  r = sb_.Run({"-exp", "-fil"});
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(ReportOf(r.err), "EIniFileException: Unable to write to " + sb_.ProgramDir() + "/.");
}

TEST_F(Cli, ImportNeedsItsInputFile) {
  std::string data = BuildTargets(SampleEntries(2));
  Install(data);
  for (const std::string& name : {std::string("missing.ini"), std::string("")}) {
    RunResult r = sb_.Run({"-imp", "-fil=" + name});
    EXPECT_EQ(r.out, kBanner + "Cannot find input file " + sb_.ProgramDir() + "/" + name + "\r\n");
    EXPECT_EQ(r.code, 3);
  }
  EXPECT_EQ(sb_.ReadData(), data);
}

TEST_F(Cli, ImportErrorsLeaveTheDataFile) {
  std::string data = BuildTargets(SampleEntries(2));
  Install(data);
  WriteFileBytes(sb_.ProgramDir() + "/bad.ini", "[Header]\nWord1=1\nWord3=3\nNumEntries=2x\n");
  RunResult r = sb_.Run({"-imp", "-fil=bad.ini"});
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(ReportOf(r.err), "EConvertError: '2x' is not a valid integer value.");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(sb_.ReadData(), data);
}

TEST_F(Cli, BrokenStandardOutput) {
  Install(BuildTargets({}));
  RunOptions full;
  full.stdout_mode = StdoutMode::kFull;
  RunResult r = sb_.Run({"-Hlp"}, full);
  EXPECT_EQ(ReportOf(r.err), "EInOutError: I/O error 28.");
  EXPECT_EQ(r.code, 1);
  RunOptions closed;
  closed.stdout_mode = StdoutMode::kClosed;
  r = sb_.Run({}, closed);
  EXPECT_EQ(ReportOf(r.err), "EInOutError: I/O error 9.");
  EXPECT_EQ(r.code, 1);
}

TEST_F(Cli, ReadOnlyDataFile) {
  if (!CanRunUnprivileged()) GTEST_SKIP() << "needs root and setpriv to run as another user";
  std::string data = BuildTargets(SampleEntries(2));
  Install(data);
  chmod(sb_.DataFile().c_str(), 0444);
  RunOptions nobody;
  nobody.unprivileged = true;
  RunResult r = sb_.Run({}, nobody);
  EXPECT_EQ(r.code, 0) << r.err;
  r = sb_.Run({"-exp"}, nobody);
  EXPECT_EQ(r.out, kBanner + "2 entries saved to " + sb_.ProgramDir() + "/keepxfer.INI\r\n");
  r = sb_.Run({"-imp"}, nobody);
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(ReportOf(r.err), "EInOutError: File access denied.");
  EXPECT_EQ(sb_.ReadData(), data);
}

}  // namespace
