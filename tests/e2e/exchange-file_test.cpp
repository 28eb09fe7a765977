// The exchange file in users' hands, against both programs: a file with the user's own lines and
// another program's handles on it, a disk that fills, a run killed at any moment, several runs at
// once, names of any length. Every INI file that Keepxfer.exe writes is read back through the
// Windows profile functions (profile-driver.exe), and both programs write the same bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/TargetsBuilder.h"
#include "tests/e2e/ProgramsTest.h"
#include "tests/e2e/Sandbox.h"

#ifndef KEEPXFER_HOLDER
#define KEEPXFER_HOLDER ""
#endif

namespace {

const std::string kBanner = "\r\nFramekeep Export/Import 1.32  https://framekeep.example/\r\n";
const std::string kInstall = "C:\\Program Files\\Framekeep";

// The user's own section: 200 lines that no export writes.
std::string UsersSection() {
  std::string text = "; my own notes, kept by hand\r\n[Mine]\r\n";
  for (int i = 0; i < 199; ++i) {
    text += "note" + std::to_string(i) + "=something worth keeping, number " + std::to_string(i) +
            "\r\n";
  }
  return text;
}

// A table like SampleEntries(count) whose numbers have other lengths, so that exporting one over
// the other rewrites the file.
std::vector<typEntry> OtherEntries(int count) {
  std::vector<typEntry> entries = SampleEntries(count);
  for (typEntry& e : entries) {
    e.PositionHorizontal = 7;
    e.SizeHorizontal = 12345;
  }
  return entries;
}

class ExchangeFile : public ProgramsTest {
 protected:
  void SetUp() override {
    ProgramsTest::SetUp();
    if (IsSkipped()) return;
    sb_->SetInstallDir(kInstall);
  }

  RunResult Export(const std::vector<typEntry>& entries, const std::string& shown,
                   const RunOptions& options = {}) {
    sb_->WriteData(BuildTargets(entries));
    return sb_->Run({"-exp", "-fil=" + shown}, options);
  }
  RunResult Import(const std::string& shown) {
    sb_->WriteData(BuildTargets({}));
    return sb_->Run({"-imp", "-fil=" + shown});
  }

  // Keepxfer.exe's file, read back through the profile functions: every item an export of
  // `entries` wrote must read as it was written.
  void ExpectWindowsReads(const std::string& shown, const std::vector<typEntry>& entries) {
    if (Native()) return;
    std::vector<ExchangeItem> items = ExportedItems(entries);
    std::vector<std::pair<std::string, std::string>> names;
    for (const ExchangeItem& item : items) names.emplace_back(item.section, item.key);
    std::vector<std::string> read = profile_driver::Read(*sb_, shown, names);
    for (std::size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(read[i], items[i].value) << "[" << items[i].section << "] " << items[i].key;
    }
  }
};

// The disk fills while an export writes into a file that holds the user's own section.
TEST_P(ExchangeFile, AFullDiskFailsTheExportAndKeepsTheUsersLines) {
  if (std::string why = SmallDisk::WhyNot(); !why.empty()) GTEST_SKIP() << why;
  const std::string path = sb_->AbsoluteHostPath("rules.ini");
  const std::string folder = path.substr(0, path.rfind('/'));
  SmallDisk disk(folder, "16k");
  ASSERT_TRUE(disk.mounted());
  const std::string mine = UsersSection();
  WriteFileBytes(path, mine);
  const std::string shown = sb_->AbsoluteName("rules.ini");
  RunResult r = Export(SampleEntries(60), shown);
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(Report(r), "EIniFileException: Unable to write to " + shown + ".");
  EXPECT_EQ(r.code, 1);
  // The user's lines as they were, then whole items of the export.
  const std::string after = ReadFileBytes(path);
  EXPECT_EQ(after.compare(0, mine.size(), mine), 0);
  EXPECT_GT(after.size(), mine.size() + 4000);
  EXPECT_EQ(after.substr(after.size() - 2), "\r\n");
}

// Killed at many exact moments of an export that rewrites a file holding the user's own
// section (at the run's nth write, through strace's fault injection, which reaches into Wine's
// own file calls too): the file is never empty or cut, the user's lines are always there, and
// the next export finishes.
TEST_P(ExchangeFile, AKillAtAnyMomentKeepsTheUsersLines) {
  if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
  const std::string path = sb_->AbsoluteHostPath("rules.ini");
  const std::string shown = sb_->AbsoluteName("rules.ini");
  const std::string mine = UsersSection();
  WriteFileBytes(path, mine);
  ASSERT_EQ(Export(OtherEntries(40), shown).code, 0);
  const std::string before = ReadFileBytes(path);
  int killed = 0;
  // The nth write of the file itself, and the nth write of the run, to any file.
  for (bool of_the_file : {true, false}) {
    for (int nth : {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233, 377, 610, 987, 1597}) {
      WriteFileBytes(path, before);
      RunOptions options;
      options.wrapper = {"strace", "-qq",
                         "-o",     "/dev/null",
                         "-e",     "trace=write,pwrite64",
                         "-e",     "inject=write,pwrite64:signal=KILL:when=" + std::to_string(nth)};
      if (of_the_file) options.wrapper.insert(options.wrapper.end(), {"-P", path});
      RunResult r = Export(SampleEntries(40), shown, options);
      killed += r.code == 128 + 9;
      EXPECT_NE(ReadFileBytes(path).find(mine), std::string::npos)
          << "killed at write " << nth << (of_the_file ? " of the file" : "");
    }
  }
  EXPECT_GE(killed, 8);
  RunResult r = Export(SampleEntries(40), shown);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(path).find(mine), 0u);
  EXPECT_EQ(Import(shown).code, 0);
  EXPECT_TRUE(sb_->ReadData() == BuildTargets(SampleEntries(40)));
}

// Three exports into one file at once, twice: each run takes its turn per item, every run
// succeeds, and the file holds every item once, as a single export would have left it.
TEST_P(ExchangeFile, ExportsAtOnceTakeTurns) {
  const std::string path = sb_->AbsoluteHostPath("shared.ini");
  const std::string shown = sb_->AbsoluteName("shared.ini");
  WriteFileBytes(path, UsersSection());
  ASSERT_EQ(Export(OtherEntries(30), shown).code, 0);
  sb_->WriteData(BuildTargets(SampleEntries(30)));
  for (int round = 0; round < 2; ++round) {
    std::atomic<int> failed{0};
    std::vector<std::thread> runs;
    for (int i = 0; i < 3; ++i) {
      runs.emplace_back([&] {
        RunResult r = sb_->Run({"-exp", "-fil=" + shown});
        if (r.code != 0 || r.out != kBanner + "30 entries saved to " + shown + "\r\n") {
          ++failed;
          ADD_FAILURE() << r.out << r.err;
        }
      });
    }
    for (std::thread& run : runs) run.join();
    EXPECT_EQ(failed, 0);
  }
  ExpectWindowsReads(shown, SampleEntries(30));
  EXPECT_EQ(ReadFileBytes(path).find(UsersSection()), 0u);
  EXPECT_EQ(Import(shown).code, 0);
  EXPECT_TRUE(sb_->ReadData() == BuildTargets(SampleEntries(30)));
}

// An exchange file may have any name the system allows: here 269 characters. (The profile
// functions cannot read it back: the ANSI functions stop at 260 characters.)
TEST_P(ExchangeFile, NamesLongerThan260Characters) {
  const std::string sep = Native() ? "/" : "\\";
  const std::size_t room = 269 - sb_->AbsoluteName("").size() - 2 * sep.size();
  const std::string a(room / 3, 'a');
  const std::string b(room / 3, 'b');
  const std::string leaf = std::string(room - a.size() - b.size() - 4, 'r') + ".ini";
  const std::string shown = sb_->AbsoluteName(a + sep + b + sep + leaf);
  ASSERT_EQ(shown.size(), 269u);
  const std::string host = sb_->AbsoluteHostPath(a + "/" + b + "/" + leaf);
  ASSERT_EQ(std::system(("mkdir -p '" + host.substr(0, host.rfind('/')) + "'").c_str()), 0);
  RunResult r = Export(SampleEntries(2), shown);
  EXPECT_EQ(r.out, kBanner + "2 entries saved to " + shown + "\r\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(IsRegular(host));
  r = Import(shown);
  EXPECT_EQ(r.out, kBanner + "2 entries loaded from " + shown + ".\r\n");
  EXPECT_TRUE(sb_->ReadData() == BuildTargets(SampleEntries(2)));
}

// An export into a file that a person wrote: LF line ends, a comment, a blank line, keys in
// lower case, a marker and a section of their own. Only the items whose values change are
// written, in the file's own line ends; the missing section goes at the end.
TEST_P(ExchangeFile, OnlyTheItemsWrittenChange) {
  const std::string path = sb_->AbsoluteHostPath("mine.ini");
  const std::string shown = sb_->AbsoluteName("mine.ini");
  const std::string head = "; my rules\n[header]\nword1=1\nword3=3\n\nnumentries=1\n[Entry0]\n";
  const std::string tail =
      "ClassName=Edit\nAction=Maximize\nSearchMethod=ClassName\nSetPosition=Y\n"
      "PositionHorizontal=10\nPositionVertical=Default\nSizeHorizontal=30\n";
  WriteFileBytes(path,
                 head + "windowname=Old title\n" + tail + "SizeVertical=99\n[Mine]\nkeep=this\n");
  RunResult r = Export({MakeEntry("Notepad", "Edit", 1, 0, 1, 10, 20, 30, 40)}, shown);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(path),
            head + "windowname=Notepad\n" + tail +
                "SizeVertical=40\n[Mine]\nkeep=this\n[Documentation]\n"
                "Actions=Maximize, Minimize, Restore, Center, Resize\n"
                "SearchMethods=ClassName, WindowTitleExact, WindowTitleContaining\n");
}

// Another program (a scanner, an editor, a sync tool) holds the file open for a moment, with
// read sharing only, or without delete sharing: the export waits for it, for about 2 s, and
// then fails with the file as it was.
TEST_P(ExchangeFile, AnotherProgramsHandleIsWaitedFor) {
  if (Native()) GTEST_SKIP() << "POSIX has no sharing modes";
  if (!IsRegular(KEEPXFER_HOLDER)) GTEST_SKIP() << "holder.exe is not built";
  const std::string path = sb_->AbsoluteHostPath("held.ini");
  const std::string shown = sb_->AbsoluteName("held.ini");
  const std::string ready = sb_->Root() + "/holder-ready";
  struct Case {
    const char* share;
    const char* milliseconds;
    bool succeeds;
  } cases[] = {{"r", "1500", true}, {"rw", "1500", true}, {"r", "4000", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.share) + " for " + c.milliseconds + " ms");
    WriteFileBytes(path, UsersSection());
    ASSERT_EQ(Export(OtherEntries(5), shown).code, 0);
    const std::string before = ReadFileBytes(path);
    unlink(ready.c_str());
    BackgroundWineProgram holder(
        *sb_,
        {WindowsPathOf(KEEPXFER_HOLDER), shown, c.share, WindowsPathOf(ready), c.milliseconds},
        ready);
    ASSERT_TRUE(holder.ready());
    RunResult r = Export(SampleEntries(5), shown);
    if (c.succeeds) {
      EXPECT_EQ(r.out, kBanner + "5 entries saved to " + shown + "\r\n");
      EXPECT_EQ(r.code, 0) << r.err;
      ExpectWindowsReads(shown, SampleEntries(5));
    } else {
      EXPECT_EQ(Report(r), "EIniFileException: Unable to write to " + shown + ".");
      EXPECT_EQ(r.code, 1);
      EXPECT_TRUE(ReadFileBytes(path) == before);
    }
    EXPECT_EQ(holder.Wait(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, ExchangeFile, ::testing::Values(Flavour::kNative, Flavour::kWine),
                         [](const ::testing::TestParamInfo<Flavour>& info) {
                           return info.param == Flavour::kNative ? std::string("Native")
                                                                 : std::string("Wine");
                         });

// The same exports by both programs give the same bytes: into a new file, into a file a person
// wrote, and over an earlier export of another table.
TEST(BothProgramsWine, WriteTheSameExchangeFiles) {
  std::string why = Sandbox::Unavailable(Flavour::kWine);
  if (!why.empty()) GTEST_SKIP() << why;
  Sandbox native(Flavour::kNative);
  Sandbox wine(Flavour::kWine);
  const std::string by_hand = "; mine\n[Entry1]\nwindowname=x\n\n[Other]\nk = v \n";
  std::string files[2];
  Sandbox* sandboxes[] = {&native, &wine};
  for (int i = 0; i < 2; ++i) {
    Sandbox& sb = *sandboxes[i];
    sb.SetInstallDir(kInstall);
    const std::string shown = sb.AbsoluteName("both.ini");
    const std::string host = sb.AbsoluteHostPath("both.ini");
    WriteFileBytes(host, by_hand);
    for (const std::vector<typEntry>& entries :
         {SampleEntries(12), OtherEntries(9), SampleEntries(14)}) {
      sb.WriteData(BuildTargets(entries));
      EXPECT_EQ(sb.Run({"-exp", "-fil=" + shown}).code, 0);
    }
    files[i] = ReadFileBytes(host);
  }
  EXPECT_GT(files[0].size(), 3000u);
  EXPECT_TRUE(files[0] == files[1]);
}

}  // namespace
