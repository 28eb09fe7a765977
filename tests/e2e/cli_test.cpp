// The real program, run in a throw-away installation: output bytes, error
// reports, exit codes and files. Every case runs natively and, where Wine and
// Keepxfer.exe are here, as the Windows program under Wine.
#include <gtest/gtest.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/TargetsBuilder.h"
#include "tests/e2e/ProgramsTest.h"
#include "tests/e2e/Sandbox.h"
#include "tests/exchange-edits.h"

namespace {

// `text` from one encoding into another, through the C library.
std::string Recode(const std::string& text, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  std::string out(text.size() * 4 + 16, '\0');
  char* in_p = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char* out_p = &out[0];
  std::size_t out_left = out.size();
  std::size_t r = iconv(cd, &in_p, &in_left, &out_p, &out_left);
  iconv_close(cd);
  EXPECT_NE(r, static_cast<std::size_t>(-1)) << "cannot recode from " << from << " to " << to;
  out.resize(out.size() - out_left);
  return out;
}

const std::string kBanner = "\r\nFramekeep Export/Import 1.32  https://framekeep.example/\r\n";
const std::string kUsage =
    "Usage: Keepxfer [-Exp[ort]|-Imp[ort] [-Fil=Filename]] [-Bak=FileName] [-?] [-Hlp]\r\n";
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
    "  -Bak=FileName   Specify Backup FileName\r\n"
    "\r\n"
    "Notes:\r\n"
    "  If Filename is not specified, then Keepxfer.INI is used.\r\n"
    "  This version of Keepxfer is compatible only with Framekeep 1.61 (2006-09-19)\r\n"
    "  More information is available at https://framekeep.example/forum\r\n";
const std::string kInstall = "C:\\Program Files\\Framekeep";
const std::string kNotInstalled = kBanner + "Framekeep not installed!\r\n";
const std::string kStats =
    kBanner + "  Location: " + kInstall + "\r\n  Targets.DAT version: OK\r\n";

class Cli : public ProgramsTest {
 protected:
  void Install(const std::string& data) {
    sb_->SetInstallDir(kInstall);
    sb_->WriteData(data);
  }
};

TEST_P(Cli, StatsShowsLocationAndVersion) {
  Install(BuildTargets(SampleEntries(2)));
  RunResult r = sb_->Run({});
  EXPECT_EQ(r.out, kStats);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.code, 0);
}

TEST_P(Cli, HelpModes) {
  // The long help needs neither the registry nor the data file.
  RunResult r = sb_->Run({"-Hlp"});
  EXPECT_EQ(r.out, kBanner + kUsage + kLongHelp);
  EXPECT_EQ(r.code, 0);
  r = sb_->Run({"-?"});
  EXPECT_EQ(r.out, kBanner + kUsage + "Framekeep not installed!\r\n");
  EXPECT_EQ(r.code, 1);
  Install(BuildTargets({}));
  r = sb_->Run({"/?"});
  EXPECT_EQ(r.out, kBanner + kUsage);
  EXPECT_EQ(r.code, 0);
}

TEST_P(Cli, LaterModeSwitchesWin) {
  Install(BuildTargets(SampleEntries(1)));
  EXPECT_EQ(sb_->Run({"-Imp", "-Exp"}).out,
            kBanner + "1 entries saved to " + sb_->DefaultIni() + "\r\n");
  EXPECT_EQ(sb_->Run({"-EXPORT", "-?"}).out, kBanner + kUsage);
  EXPECT_EQ(sb_->Run({"-?", "/hlp"}).out, kBanner + kUsage + kLongHelp);
}

// An item that is no switch of the tool stops every mode with the usage line, before the registry
// or any file is read: here there is no installation at all. The long help takes -Bak and does
// nothing with it.
TEST_P(Cli, UnknownParametersAreRefusedInEveryMode) {
  const std::vector<std::vector<std::string>> runs = {{"-Imp", "-File=mine.ini"},
                                                      {"-Imp", "mine.ini"},
                                                      {"-Hlp", "-Expo"},
                                                      {"--exp"},
                                                      {"/?", "/Imp=x", "-Bogus"}};
  for (const auto& args : runs) {
    RunResult r = sb_->Run(args);
    EXPECT_EQ(r.out, kBanner + "Unknown parameter " + args.back() + "\r\n" + kUsage);
    EXPECT_EQ(r.code, 4) << args.back();
  }
  RunResult r = sb_->Run({"-hlp", "-Bak=old.ini", "-exp=abc"});
  EXPECT_EQ(r.out, kBanner + kUsage + kLongHelp);
  EXPECT_EQ(r.code, 0);
}

TEST_P(Cli, NotInstalled) {
  for (const char* mode : {"", "-Exp", "-Imp"}) {
    RunResult r = sb_->Run(*mode ? std::vector<std::string>{mode} : std::vector<std::string>{});
    EXPECT_EQ(r.out, kNotInstalled) << mode;
    EXPECT_EQ(r.code, 1);
  }
  sb_->SetInstallDir("");
  EXPECT_EQ(sb_->Run({}).out, kNotInstalled);
  // An empty binary value counts as missing.
  sb_->SetInstallEmptyBinary();
  EXPECT_EQ(sb_->Run({}).out, kNotInstalled);
}

TEST_P(Cli, RegistryFilesThatWineRejects) {
  if (!Native()) GTEST_SKIP() << "the registry file is written by hand in native runs only";
  sb_->WriteRegistry(
      "WINE REGISTRY Version 1\n\n[Software\\\\Framekeep\\\\Install] 1\n"
      "\"InstallDir\"=\"C:\\\\x\"\n");
  EXPECT_EQ(sb_->Run({}).out, kNotInstalled);
  sb_->WriteRegistry("WINE REGISTRY Version 2\n\n[Software\\\\Framekeep\\\\Install] 1\n");
  EXPECT_EQ(sb_->Run({}).out, kNotInstalled);
}

TEST_P(Cli, RegistryValuesOfOtherTypes) {
  sb_->SetInstallNumber(1);
  RunResult r = sb_->Run({});
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(Report(r), "ERegistryException: Invalid data type for 'InstallDir'.");
  EXPECT_EQ(r.code, 1);
}

TEST_P(Cli, IncompatibleDataFiles) {
  sb_->SetInstallDir(kInstall);
  const std::string location = "  Location: " + kInstall + "\r\n";
  struct Case {
    std::string data, line;
  } cases[] = {{std::string("\x01\x00", 2), "  Targets.DAT version 1.0 not compatible!\r\n"},
               {std::string("\x01", 1), "  Targets.DAT version 1.0 not compatible!\r\n"},
               {"", "  Targets.DAT version 0.0 not compatible!\r\n"},
               {BuildTargets({}, 1, 4), "  Targets.DAT version 1.4 not compatible!\r\n"},
               {BuildTargets({}, 65535, 3), "  Targets.DAT version 65535.3 not compatible!\r\n"}};
  for (const Case& c : cases) {
    sb_->WriteData(c.data);
    RunResult r = sb_->Run({});
    EXPECT_EQ(r.out, kBanner + location + c.line);
    EXPECT_EQ(r.code, 2);
    r = sb_->Run({"-Exp"});
    EXPECT_EQ(r.out, kBanner + c.line);
    EXPECT_EQ(r.code, 2);
  }
}

TEST_P(Cli, FileErrorsEndWithTheReport) {
  sb_->SetInstallDir(kInstall);
  RunResult r = sb_->Run({});
  EXPECT_EQ(r.out, kBanner + "  Location: " + kInstall + "\r\n");
  EXPECT_EQ(Report(r), "EInOutError: File not found.");
  EXPECT_EQ(r.code, 1);
  sb_->SetInstallDir("C:\\No Such Folder\\Framekeep");
  EXPECT_EQ(Report(sb_->Run({"-?"})), "EInOutError: Invalid filename.");
  // A data file that is a directory cannot be opened as a file.
  sb_->SetInstallDir(kInstall);
  mkdir(sb_->DataFile().c_str(), 0777);
  EXPECT_EQ(Report(sb_->Run({"-Exp"})), "EInOutError: File access denied.");
  rmdir(sb_->DataFile().c_str());
}

TEST_P(Cli, InstallPathMatchesFoldersWithoutCase) {
  sb_->SetInstallDir("c:\\PROGRAM FILES\\framekeep\\");
  sb_->WriteData(BuildTargets({}));
  RunResult r = sb_->Run({});
  EXPECT_EQ(
      r.out,
      kBanner + "  Location: c:\\PROGRAM FILES\\framekeep\\\r\n  Targets.DAT version: OK\r\n");
  EXPECT_EQ(r.code, 0);
}

// The installation folder written in other forms that Windows resolves: rooted, on the current
// drive, which the native program takes to be C: (Keepxfer.exe is started from drive C:), and the
// long form of a drive path. Native runs only: under Wine, Keepxfer.exe's current drive is that
// of the folder the tests run in.
TEST(InstallDirNative, RootedAndLongFormsFindTheFolderOnDriveC) {
  Sandbox sb;
  sb.WriteData(BuildTargets(SampleEntries(2)));
  for (const std::string& install :
       {std::string("\\Program Files\\Framekeep"), "\\\\?\\" + kInstall}) {
    sb.SetInstallDir(install);
    RunResult r = sb.Run({});
    EXPECT_EQ(r.out, kBanner + "  Location: " + install + "\r\n  Targets.DAT version: OK\r\n");
    EXPECT_EQ(r.err, "") << install;
    EXPECT_EQ(r.code, 0) << install;
  }
}

TEST_P(Cli, ExportAndImportRoundTrip) {
  std::string data = BuildTargets(SampleEntries(12));
  Install(data);
  RunResult r = sb_->Run({"-Exp"});
  EXPECT_EQ(r.out, kBanner + "12 entries saved to " + sb_->DefaultIni() + "\r\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.code, 0);
  std::string ini_path = sb_->ProgramDir() + "/" + (Native() ? "keepxfer.INI" : "Keepxfer.INI");
  std::string text = ReadFileBytes(ini_path);
  EXPECT_EQ(
      text.rfind("[Documentation]\r\nActions=Maximize, Minimize, Restore, Center, Resize\r\n", 0),
      0u);
  EXPECT_NE(text.find("[Entry11]\r\nWindowName=Window 11 - Editor\r\n"), std::string::npos);

  sb_->WriteData(BuildTargets({}));
  r = sb_->Run({"-Import"});
  EXPECT_EQ(r.out, kBanner + "12 entries loaded from " + sb_->DefaultIni() + ".\r\n");
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(sb_->ReadData() == data);

  // Markers and hand-made defaults survive a second export and drive the import.
  std::string edited = ReadFileBytes(ini_path);
  std::string from = "[Entry3]\r\nWindowName=";
  edited.replace(edited.find("SizeHorizontal=", edited.find(from)), 18, "SizeHorizontal=Default");
  edited +=
      "[Defaults]\r\nDefaultPositionHorizontal=1\r\nDefaultPositionVertical=2\r\n"
      "DefaultSizeHorizontal=1234\r\nDefaultSizeVertical=4\r\n";
  WriteFileBytes(ini_path, edited);
  EXPECT_EQ(sb_->Run({"-Exp"}).code, 0);
  EXPECT_EQ(ReadFileBytes(ini_path), edited);
  EXPECT_EQ(sb_->Run({"-Imp"}).code, 0);
  std::vector<typEntry> expected = SampleEntries(12);
  expected[3].SizeHorizontal = 1234;
  EXPECT_TRUE(sb_->ReadData() == BuildTargets(expected));
}

// The count lines give the true number of entries, also where an 8-bit count would wrap.
TEST_P(Cli, CountsAreTheTrueNumberOfEntries) {
  const std::vector<int> counts = {0, 256, 300};
  std::string ini = sb_->ProgramDir() + "/" + (Native() ? "keepxfer.INI" : "Keepxfer.INI");
  for (int count : counts) {
    std::string data = BuildTargets(SampleEntries(count));
    Install(data);
    unlink(ini.c_str());
    RunResult r = sb_->Run({"-exp"});
    EXPECT_EQ(r.out,
              kBanner + std::to_string(count) + " entries saved to " + sb_->DefaultIni() + "\r\n");
    sb_->WriteData(BuildTargets({}));
    r = sb_->Run({"-imp"});
    EXPECT_EQ(r.out, kBanner + std::to_string(count) + " entries loaded from " + sb_->DefaultIni() +
                         ".\r\n");
    EXPECT_TRUE(sb_->ReadData() == data) << count;
  }
}

TEST_P(Cli, ExchangeFileNames) {
  Install(BuildTargets(SampleEntries(3)));
  // The value keeps its letter case and goes into the program's folder.
  RunResult r = sb_->Run({"-exp", "-FIL=Backup.INI"});
  EXPECT_EQ(r.out, kBanner + "3 entries saved to " + sb_->Shown("Backup.INI") + "\r\n");
  EXPECT_TRUE(IsRegular(sb_->ProgramDir() + "/Backup.INI"));
  // An absolute name is used as given; an argument with a blank stays one item.
  std::string host = sb_->AbsoluteHostPath("my rules.ini");
  r = sb_->Run({"-exp", "-fil=" + sb_->AbsoluteName("my rules.ini")});
  EXPECT_EQ(r.out, kBanner + "3 entries saved to " + sb_->AbsoluteName("my rules.ini") + "\r\n");
  EXPECT_TRUE(IsRegular(host));
  // A comma splits the argument, as on Windows, and what follows it is no switch.
  r = sb_->Run({"-exp", "-fil=a,b.ini"});
  EXPECT_EQ(r.out, kBanner + "Unknown parameter b.ini\r\n" + kUsage);
  EXPECT_EQ(r.code, 4);
  // "-Fil" without a value names the folder itself.
  r = sb_->Run({"-exp", "-fil"});
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(Report(r), "EIniFileException: Unable to write to " + sb_->Shown("") + ".");
  EXPECT_EQ(r.code, 1);
  // On Windows a drive without a folder, or a ':' after the drive, names no file of its own (a
  // stream of a file "D" in the program's folder): refused, nothing written. Elsewhere it is a
  // name like any other.
  r = sb_->Run({"-exp", "-fil=D:rules.ini"});
  if (Native()) {
    EXPECT_EQ(r.out, kBanner + "3 entries saved to " + sb_->Shown("D:rules.ini") + "\r\n");
  } else {
    EXPECT_EQ(Report(r),
              "EInOutError: Invalid filename D:rules.ini: a drive without a folder "
              "names the drive's current folder (write D:\\rules.ini, or the name "
              "alone).");
    EXPECT_EQ(r.code, 1);
    r = sb_->Run({"-imp", "-fil=rules.ini:x"});
    EXPECT_EQ(Report(r),
              "EInOutError: Invalid filename rules.ini:x: a ':' names a stream of "
              "another file.");
    r = sb_->Run({"-Bak=mine.DAT:x"});
    EXPECT_EQ(Report(r),
              "EInOutError: Invalid filename mine.DAT:x: a ':' names a stream of "
              "another file.");
    EXPECT_FALSE(IsRegular(sb_->ProgramDir() + "/mine.DAT"));
    EXPECT_FALSE(IsRegular(sb_->ProgramDir() + "/D"));
    EXPECT_FALSE(IsRegular(sb_->ProgramDir() + "/rules.ini"));
  }
}

// Named by its own path, or on Windows in other letter case, the data file is refused as the
// exchange file before anything is written.
TEST_P(Cli, TheExchangeFileIsNeverTheDataFile) {
  std::string data = BuildTargets(SampleEntries(2));
  Install(data);
  const std::string name = Native() ? sb_->DataFile() : "C:\\PROGRAM FILES\\framekeep\\targets.dat";
  const std::string shown = Native() ? kInstall + "/Targets.DAT" : kInstall + "\\Targets.DAT";
  for (const char* mode : {"-exp", "-imp"}) {
    RunResult r = sb_->Run({mode, "-fil=" + name});
    EXPECT_EQ(r.out, kBanner) << mode;
    EXPECT_EQ(Report(r), "EIniFileException: Unable to write to " + name +
                             ": it is the data file " + shown + ".");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(sb_->ReadData() == data);
  }
}

TEST_P(Cli, ImportNeedsItsInputFile) {
  std::string data = BuildTargets(SampleEntries(2));
  Install(data);
  mkdir((sb_->ProgramDir() + "/folder.ini").c_str(), 0777);
  for (std::string name : {"missing.ini", "", "folder.ini"}) {
    RunResult r = sb_->Run({"-imp", "-fil=" + name});
    EXPECT_EQ(r.out, kBanner + "Cannot find input file " + sb_->Shown(name) + "\r\n");
    EXPECT_EQ(r.code, 3);
  }
  EXPECT_TRUE(sb_->ReadData() == data);
}

// Each row of the table of hand edits of the sample exchange file: the data file the import
// stores, with the sections it leaves named after the count line, or the refusal that names the
// file, the line, the section and the key, with the data file as it was. Under Wine, the rows
// that stand for a rule of their own.
TEST_P(Cli, HandEditsAreStoredAsMeantOrRefusedSayingWhere) {
  const std::string sample = ReadFileBytes(KEEPXFER_GOLDEN_DIR "/sample.DAT");
  const std::string ini = ReadFileBytes(KEEPXFER_GOLDEN_DIR "/sample.INI");
  ASSERT_EQ(sample.size(), 8u + 12 * 288);
  sb_->SetInstallDir(kInstall);
  const std::string shown = sb_->Shown("edit.ini");
  for (const HandEdit& row : HandEdits()) {
    if (!Native() && !row.wine) continue;
    SCOPED_TRACE(row.what);
    sb_->WriteData(sample);
    WriteFileBytes(sb_->ProgramDir() + "/edit.ini", EditedText(ini, row.edits));
    RunResult r = sb_->Run({"-imp", "-fil=edit.ini"});
    if (row.kind != nullptr) {
      EXPECT_EQ(r.out, kBanner);
      EXPECT_EQ(Report(r), std::string(row.kind) + ": " + shown + row.message + ".");
      EXPECT_EQ(r.code, 1);
      EXPECT_TRUE(sb_->ReadData() == sample);
      continue;
    }
    std::string not_loaded;
    for (const std::string& name : row.not_loaded) {
      not_loaded += (not_loaded.empty() ? "  Not loaded: [" : ", [") + name + "]";
    }
    if (!not_loaded.empty()) not_loaded += " (beyond NumEntries 12)\r\n";
    EXPECT_EQ(r.out, kBanner + "12 entries loaded from " + shown + ".\r\n" + not_loaded);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(sb_->ReadData() == StoredData(sample, row.stored));
  }
}

// Names whose Windows-1252 bytes are all UTF-8 sequences ("\xC3\xA9" is "Ã©"): a file of them
// would read as UTF-8 and change them, so the export writes it as UTF-8, without a mark, and the
// import gives back every byte.
TEST_P(Cli, NamesThatLookLikeUtf8ComeBackExactly) {
  const std::string data = BuildTargets({MakeEntry("\xC3\xA9", "Caf\xC3\xA9", 1, 0, 1, 1, 2, 3, 4),
                                         MakeEntry("plain", "\xE2\x82\xAC", 5, 2, 0, 5, 6, 7, 8)});
  Install(data);
  ASSERT_EQ(sb_->Run({"-exp", "-fil=utf8.ini"}).code, 0);
  const std::string written = ReadFileBytes(sb_->ProgramDir() + "/utf8.ini");
  EXPECT_EQ(written.rfind("[Documentation]\r\n", 0), 0u);
  EXPECT_NE(written.find("\r\nWindowName=\xC3\x83\xC2\xA9\r\n"), std::string::npos);
  EXPECT_NE(written.find("\r\nClassName=\xC3\xA2\xE2\x80\x9A\xC2\xAC\r\n"), std::string::npos);
  sb_->WriteData(BuildTargets({}));
  RunResult r = sb_->Run({"-imp", "-fil=utf8.ini"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(sb_->ReadData() == data);
}

TEST_P(Cli, ImportErrorsLeaveTheDataFile) {
  std::string data = BuildTargets(SampleEntries(2));
  Install(data);
  struct Case {
    std::string ini, report;
  } cases[] = {
      {"[Header]\nWord1=1\nWord3=3\nNumEntries=1\n[Entry0]\nWindowName=" + std::string(130, 'w') +
           "\n",
       "EConvertError: " + sb_->Shown("bad.ini") +
           ":6: [Entry0] WindowName: the name has 130 characters, more than the 129 that fit."},
  };
  for (const Case& c : cases) {
    WriteFileBytes(sb_->ProgramDir() + "/bad.ini", c.ini);
    RunResult r = sb_->Run({"-imp", "-fil=bad.ini"});
    EXPECT_EQ(r.out, kBanner);
    EXPECT_EQ(Report(r), c.report);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(sb_->ReadData() == data);
  }
}

TEST_P(Cli, NamesThatReadingWouldChangeComeBackExactly) {
  std::string data = BuildTargets({MakeEntry("  Untitled  ", "\"Quoted\"", 1, 1, 0, 0, 0, 0, 0),
                                   MakeEntry("'single'", "Tab\tinside", 2, 2, 1, 5, 6, 7, 8)});
  Install(data);
  ASSERT_EQ(sb_->Run({"-exp", "-fil=names.ini"}).code, 0);
  sb_->WriteData(BuildTargets({}));
  ASSERT_EQ(sb_->Run({"-imp", "-fil=names.ini"}).code, 0);
  EXPECT_TRUE(sb_->ReadData() == data);
}

// An editor saves the exchange file as UTF-8 with a byte-order mark, or as UTF-16 ("Unicode"):
// the import reads the names in the Windows code page again, and a second export into the file
// keeps its encoding; the data file comes back byte for byte.
TEST_P(Cli, RoundTripsThroughUnicodeExchangeFiles) {
  std::string data = BuildTargets({MakeEntry("Caf\xE9 \x80 Gr\xF6\xDF"
                                             "e",
                                             "Fen\xEAtre", 1, 2, 1, 10, 20, 30, 40),
                                   MakeEntry("plain", "\xC4rger", 5, 0, 0, 1, 2, 3, 4)});
  Install(data);
  ASSERT_EQ(sb_->Run({"-exp", "-fil=rules.ini"}).code, 0);
  const std::string path = sb_->ProgramDir() + "/rules.ini";
  const std::string ansi = ReadFileBytes(path);
  for (const char* encoding : {"UTF-8", "UTF-16LE", "UTF-16BE"}) {
    SCOPED_TRACE(encoding);
    // As the editor writes it: the text in the encoding, behind its byte-order mark.
    std::string mark = std::string(encoding) == "UTF-8"      ? "\xEF\xBB\xBF"
                       : std::string(encoding) == "UTF-16LE" ? "\xFF\xFE"
                                                             : "\xFE\xFF";
    WriteFileBytes(path, mark + Recode(ansi, "CP1252", encoding));
    sb_->WriteData(BuildTargets({}));
    RunResult r = sb_->Run({"-imp", "-fil=rules.ini"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(sb_->ReadData() == data);
    // Exported again into it, with a change: still a file of its encoding.
    sb_->WriteData(BuildTargets({MakeEntry("Caf\xE9 \x80 Gr\xF6\xDF"
                                           "e",
                                           "Fen\xEAtre", 1, 2, 1, 10, 20, 30, 41),
                                 MakeEntry("plain", "\xC4rger", 5, 0, 0, 1, 2, 3, 4)}));
    ASSERT_EQ(sb_->Run({"-exp", "-fil=rules.ini"}).code, 0);
    std::string written = ReadFileBytes(path);
    ASSERT_EQ(written.compare(0, mark.size(), mark), 0);
    EXPECT_EQ(Recode(written.substr(mark.size()), encoding, "CP1252"),
              ansi.substr(0, ansi.find("SizeVertical=40")) + "SizeVertical=41" +
                  ansi.substr(ansi.find("SizeVertical=40") + 15));
  }
}

TEST_P(Cli, BrokenStandardOutput) {
  Install(BuildTargets({}));
  RunOptions full;
  full.stdout_mode = StdoutMode::kFull;
  RunResult r = sb_->Run({"-Hlp"}, full);
  EXPECT_EQ(Report(r), Native() ? "EInOutError: I/O error 28." : "EInOutError: I/O error 112.");
  EXPECT_EQ(r.code, 1);
}

TEST_P(Cli, ReadOnlyDataFile) {
  std::string data = BuildTargets(SampleEntries(2));
  Install(data);
  RunOptions options;
  if (Native()) {
    // Root may write any file: run as somebody else.
    if (std::string why = WhyNotUnprivileged(); !why.empty()) GTEST_SKIP() << why;
    options.unprivileged = true;
  }
  chmod(sb_->DataFile().c_str(), 0444);
  RunResult r = sb_->Run({}, options);
  EXPECT_EQ(r.out, kStats);
  EXPECT_EQ(r.code, 0) << r.err;
  r = sb_->Run({"-exp"}, options);
  EXPECT_EQ(r.out, kBanner + "2 entries saved to " + sb_->DefaultIni() + "\r\n");
  r = sb_->Run({"-imp"}, options);
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(Report(r), "EInOutError: File access denied.");
  // The version check refuses before the exchange file is looked at, so also without one.
  r = sb_->Run({"-imp", "-fil=missing.ini"}, options);
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(Report(r), "EInOutError: File access denied.");
  EXPECT_TRUE(sb_->ReadData() == data);
}

INSTANTIATE_TEST_SUITE_P(Builds, Cli, ::testing::Values(Flavour::kNative, Flavour::kWine),
                         [](const ::testing::TestParamInfo<Flavour>& info) {
                           return info.param == Flavour::kNative ? std::string("Native")
                                                                 : std::string("Wine");
                         });

// Keepxfer reads a registry file that Wine itself wrote.
TEST(WineWrittenRegistry, NativeProgramReadsIt) {
  std::string why = Sandbox::Unavailable(Flavour::kWine);
  if (!why.empty()) GTEST_SKIP() << why;
  Sandbox wine(Flavour::kWine);
  wine.SetInstallDir("C:\\PROGRAM FILES\\Framekeep");
  wine.WriteData(BuildTargets({}));
  wine.FlushWineRegistry();
  Sandbox native;
  // The native sandbox has a prefix of its own; point it at Wine's instead.
  RunOptions options;
  options.wrapper = {"env", "WINEPREFIX=" + wine.Prefix()};
  RunResult r = native.Run({}, options);
  EXPECT_EQ(r.out,
            kBanner + "  Location: C:\\PROGRAM FILES\\Framekeep\r\n  Targets.DAT version: OK\r\n");
  EXPECT_EQ(r.code, 0) << r.err;
}

}  // namespace

// ---- The running-product guard ----

#ifndef KEEPXFER_STAND_IN
#define KEEPXFER_STAND_IN ""
#endif

namespace {

// A stand-in for the product, run under Wine in `wine`'s prefix from the Windows path `program`
// (where the stand-in is copied) until it is stopped.
class RunningStandIn {
 public:
  RunningStandIn(const Sandbox& wine, const std::string& host_path, const std::string& program)
      : ready_(wine.Root() + "/stand-in-ready"),
        copied_(std::system(("mkdir -p \"$(dirname '" + host_path +
                             "')\" && cp '" KEEPXFER_STAND_IN "' '" + host_path + "'")
                                .c_str()) == 0),
        program_(wine, {program, WindowsPathOf(ready_), "90"}, ready_) {
    if (!copied_ || !program_.ready()) ADD_FAILURE() << "the stand-in did not start";
  }
  ~RunningStandIn() {
    unlink(ready_.c_str());
    program_.Wait();
  }

 private:
  std::string ready_;
  bool copied_;
  BackgroundWineProgram program_;
};

const std::string kRunning =
    kBanner + "Cannot overwrite Framekeep's file while Framekeep is running!\r\n";

class RunningProductWine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = Sandbox::Unavailable(Flavour::kWine);
    if (!why.empty()) GTEST_SKIP() << why;
    if (!IsRegular(KEEPXFER_STAND_IN)) GTEST_SKIP() << "stand-in.exe is not built";
    wine_ = std::make_unique<Sandbox>(Flavour::kWine);
    wine_->SetInstallDir(kInstall);
    wine_->WriteData(data_);
    WriteFileBytes(wine_->ProgramDir() + "/in.ini", ini_);
    WriteFileBytes(native_.ProgramDir() + "/in.ini", ini_);
    wine_->FlushWineRegistry();
  }
  // The native program, reading the Wine prefix the stand-in runs in, or its own.
  RunResult NativeImport(bool in_wines_prefix) {
    RunOptions options;
    if (in_wines_prefix) options.wrapper = {"env", "WINEPREFIX=" + wine_->Prefix()};
    return native_.Run({"-imp", "-fil=in.ini"}, options);
  }
  RunResult WindowsImport() { return wine_->Run({"-imp", "-fil=in.ini"}); }

  const std::string data_ = BuildTargets(SampleEntries(3));
  const std::string ini_ =
      "[Header]\r\nWord1=1\r\nWord3=3\r\nNumEntries=0\r\n[Defaults]\r\nDefaultPositionHorizontal="
      "0\r\nDefaultPositionVertical=0\r\nDefaultSizeHorizontal=0\r\nDefaultSizeVertical=0\r\n";
  std::unique_ptr<Sandbox> wine_;
  Sandbox native_;
};

TEST_F(RunningProductWine, AnImportWaitsForTheProductToEnd) {
  const std::string product = wine_->ProductDir() + "/Framekeep.exe";
  {
    RunningStandIn running(*wine_, product, kInstall + "\\Framekeep.exe");
    RunResult r = WindowsImport();
    EXPECT_EQ(r.out, kRunning);
    EXPECT_EQ(r.code, 5);
    r = NativeImport(true);
    EXPECT_EQ(r.out, kRunning);
    EXPECT_EQ(r.code, 5);
    EXPECT_TRUE(wine_->ReadData() == data_);
    // The other modes do not look.
    EXPECT_EQ(wine_->Run({"-exp", "-fil=out.ini"}).code, 0);
    // In another prefix, the product that runs is another installation's.
    native_.SetInstallDir(kInstall);
    native_.WriteData(data_);
    r = NativeImport(false);
    EXPECT_EQ(r.code, 0) << r.out;
  }
  // Once it has ended, the import goes ahead.
  RunResult r = WindowsImport();
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(wine_->ReadData() == BuildTargets({}));
}

TEST_F(RunningProductWine, AProgramElsewhereIsNotTheProduct) {
  // The same program file, started from another folder (also a folder within the installation's).
  RunningStandIn running(*wine_, wine_->ProductDir() + "/sub/Framekeep.exe",
                         kInstall + "\\sub\\Framekeep.exe");
  RunResult r = WindowsImport();
  EXPECT_EQ(r.code, 0) << r.out;
  wine_->WriteData(data_);
  r = NativeImport(true);
  EXPECT_EQ(r.code, 0) << r.out;
}

// The same guard natively, without Wine: a process that looks to the guard as Wine running the
// product does (a loader whose name begins with "wine", the program's path first on its command
// line, the prefix in its environment) is a copy of sleep started under such names.
class WineLookalike {
 public:
  WineLookalike(const std::string& dir, const std::string& program, const std::string& prefix) {
    const std::string loader = dir + "/wine-lookalike";
    EXPECT_EQ(std::system(("cp /bin/sleep '" + loader + "'").c_str()), 0);
    pid_ = fork();
    if (pid_ == 0) {
      const std::string env = "WINEPREFIX=" + prefix;
      char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("60"), nullptr};
      char* envp[] = {const_cast<char*>(env.c_str()), nullptr};
      execve(loader.c_str(), argv, envp);
      _exit(127);
    }
    // Looked at only once it runs the loader.
    for (int i = 0; i < 500; ++i) {
      char exe[4096];
      ssize_t n = readlink(("/proc/" + std::to_string(pid_) + "/exe").c_str(), exe, sizeof exe);
      if (n > 0 && std::string(exe, static_cast<std::size_t>(n)) == loader) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~WineLookalike() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_;
};

TEST(RunningProductNative, AnImportStopsWithCode5WhileTheProductRuns) {
  Sandbox sb;
  const std::string data = BuildTargets(SampleEntries(3));
  sb.SetInstallDir(kInstall);
  sb.WriteData(data);
  WriteFileBytes(sb.ProgramDir() + "/in.ini",
                 "[Header]\r\nWord1=1\r\nWord3=3\r\nNumEntries=0\r\n[Defaults]\r\n"
                 "DefaultPositionHorizontal=0\r\nDefaultPositionVertical=0\r\n"
                 "DefaultSizeHorizontal=0\r\nDefaultSizeVertical=0\r\n");
  struct Case {
    std::string program;
    std::string prefix;
    int code;
  } cases[] = {
      {"C:\\Program Files\\Framekeep\\Framekeep.exe", sb.Prefix(), 5},
      {"c:/program files/FRAMEKEEP/framekeep.exe", sb.Prefix(), 5},
      {sb.ProductDir() + "/Framekeep.exe", sb.Prefix(), 5},
      {"C:\\Program Files\\Framekeep\\sub\\Framekeep.exe", sb.Prefix(), 0},
      {"C:\\Program Files\\Framekeep2\\Framekeep.exe", sb.Prefix(), 0},
      {"C:\\Program Files\\Framekeep\\Framekeep.exe", sb.Root() + "/other-prefix", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program + " in " + c.prefix);
    sb.WriteData(data);
    WineLookalike running(sb.Root(), c.program, c.prefix);
    RunResult r = sb.Run({"-imp", "-fil=in.ini"});
    EXPECT_EQ(r.code, c.code) << r.out;
    if (c.code == 5) {
      EXPECT_EQ(r.out, kRunning);
      EXPECT_TRUE(sb.ReadData() == data);
    }
  }
}

}  // namespace
