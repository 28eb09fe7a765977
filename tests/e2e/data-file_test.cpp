// Targets.DAT in a crowded world, against both programs: another program's handle on it, two
// imports at once, what a killed or stopped import leaves, long names, and a folder that refuses
// new files, where the file is rewritten in place under a journal.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/journal.h"
#include "tests/TargetsBuilder.h"
#include "tests/e2e/ProgramsTest.h"
#include "tests/e2e/Sandbox.h"

#ifndef KEEPXFER_HOLDER
#define KEEPXFER_HOLDER ""
#endif

namespace fs = std::filesystem;

namespace {

const std::string kBanner = "\r\nFramekeep Export/Import 1.32  https://framekeep.example/\r\n";
const std::string kInstall = "C:\\Program Files\\Framekeep";

// A folder of the tool's own holds no journal: it is not there, or holds the folder of the
// copies that imports keep, if anything.
bool NoJournalIn(const std::string& folder) {
  if (!fs::exists(folder)) return true;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename() != "Backups") return false;
  }
  return true;
}

class DataFileRuns : public ProgramsTest {
 protected:
  void SetUp() override {
    ProgramsTest::SetUp();
    if (IsSkipped()) return;
    sb_->SetInstallDir(kInstall);
    sb_->WriteData(old_);
    WriteFileBytes(sb_->ProgramDir() + "/in.ini", IniOf(fresh_));
  }

  // The exchange file a real export of `data` gives.
  std::string IniOf(const std::string& data) {
    const std::string keep = sb_->ReadData();
    sb_->WriteData(data);
    const std::string path = sb_->ProgramDir() + "/made.ini";
    unlink(path.c_str());
    EXPECT_EQ(sb_->Run({"-exp", "-fil=made.ini"}).code, 0);
    sb_->WriteData(keep);
    return ReadFileBytes(path);
  }
  RunResult Import(const std::string& ini = "in.ini", const RunOptions& options = {}) {
    return sb_->Run({"-imp", "-fil=" + ini}, options);
  }
  std::string Imported(int count, const std::string& ini = "in.ini") const {
    return kBanner + std::to_string(count) + " entries loaded from " + sb_->Shown(ini) + ".\r\n";
  }
  std::set<std::string> ProductFiles() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(sb_->ProductDir())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  // Another program holding Targets.DAT (holder.exe under Wine) with the sharing `share`.
  std::unique_ptr<BackgroundWineProgram> Hold(const std::string& share, int milliseconds) {
    const std::string ready = sb_->Root() + "/holder-ready";
    unlink(ready.c_str());
    auto holder = std::make_unique<BackgroundWineProgram>(
        *sb_,
        std::vector<std::string>{WindowsPathOf(KEEPXFER_HOLDER), kInstall + "\\Targets.DAT", share,
                                 WindowsPathOf(ready), std::to_string(milliseconds)},
        ready);
    EXPECT_TRUE(holder->ready());
    return holder;
  }
  bool CanHold() const { return !Native() && IsRegular(KEEPXFER_HOLDER); }

  const std::string old_ = BuildTargets(SampleEntries(20));
  const std::string fresh_ = BuildTargets(SampleEntries(30));
};

// An antivirus scanner or a backup tool holds Targets.DAT for a moment, with read sharing only,
// or with read and write sharing but not delete: the import waits for it, about 2 s, and then
// fails with its error and the file as it was.
TEST_P(DataFileRuns, AnotherProgramsHandleIsWaitedFor) {
  if (!CanHold()) GTEST_SKIP() << "POSIX has no sharing modes, or holder.exe is not built";
  struct Case {
    const char* share;
    int milliseconds;
    std::string report;  // empty: the import succeeds
  } cases[] = {{"r", 1500, ""},
               {"rw", 1500, ""},
               {"r", 4000, "EInOutError: I/O error 32."},
               {"rw", 4000, "EInOutError: File access denied."}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.share) + " for " + std::to_string(c.milliseconds) + " ms");
    sb_->WriteData(old_);
    auto holder = Hold(c.share, c.milliseconds);
    RunResult r = Import();
    if (c.report.empty()) {
      EXPECT_EQ(r.out, Imported(30));
      EXPECT_EQ(r.code, 0) << r.err;
      EXPECT_TRUE(sb_->ReadData() == fresh_);
    } else {
      EXPECT_EQ(r.out, kBanner);
      EXPECT_EQ(Report(r), c.report);
      EXPECT_EQ(r.code, 1);
      EXPECT_TRUE(sb_->ReadData() == old_);
    }
    EXPECT_EQ(holder->Wait(), 0);
    EXPECT_EQ(ProductFiles(), std::set<std::string>{"Targets.DAT"});
  }
}

// Two imports at once take turns: both succeed, and the table of the one that came last stays.
TEST_P(DataFileRuns, ImportsAtOnceBothSucceed) {
  const std::string other = BuildTargets(SampleEntries(25));
  WriteFileBytes(sb_->ProgramDir() + "/other.ini", IniOf(other));
  for (int round = 0; round < 3; ++round) {
    sb_->WriteData(old_);
    RunResult first, second;
    std::thread a([&] { first = Import("in.ini"); });
    std::thread b([&] { second = Import("other.ini"); });
    a.join();
    b.join();
    EXPECT_EQ(first.out, Imported(30)) << first.err;
    EXPECT_EQ(second.out, Imported(25, "other.ini")) << second.err;
    const std::string data = sb_->ReadData();
    EXPECT_TRUE(data == fresh_ || data == other);
    EXPECT_EQ(ProductFiles(), std::set<std::string>{"Targets.DAT"});
  }
}

// A temporary file that a killed import left is removed by the next import; one that a running
// import still writes (held open) is not; Ctrl-C takes this run's own along.
TEST_P(DataFileRuns, TemporaryFilesOfStoppedImportsGo) {
  if (!CanHold()) GTEST_SKIP() << "for Keepxfer.exe (keepxfer: DataFileTest and Hostile)";
  const std::string stale = sb_->ProductDir() + "/.Targets.DAT.AbC123";
  WriteFileBytes(stale, "partial");
  EXPECT_EQ(Import().out, Imported(30));
  EXPECT_EQ(ProductFiles(), std::set<std::string>{"Targets.DAT"});

  // Stopped while it waits to replace the file: its temporary file goes with it.
  sb_->WriteData(old_);
  auto holder = Hold("rw", 3000);
  RunOptions options;
  std::shared_ptr<RunningProgram> running;
  options.on_start = [&](std::shared_ptr<RunningProgram> program) { running = program; };
  std::thread stopper([&] {
    for (int i = 0; i < 200; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::set<std::string> names = ProductFiles();
      if (names.size() > 1 && running) {
        running->Signal(SIGINT);
        return;
      }
    }
    ADD_FAILURE() << "the import never came to its temporary file";
  });
  RunResult r = Import("in.ini", options);
  stopper.join();
  EXPECT_EQ(r.out.find("loaded"), std::string::npos);
  EXPECT_TRUE(sb_->ReadData() == old_);
  EXPECT_EQ(ProductFiles(), std::set<std::string>{"Targets.DAT"});
  holder->Wait();
}

// An installation folder whose Targets.DAT has a name of 257 characters, which Windows accepts.
TEST_P(DataFileRuns, LongInstallationFolders) {
  const std::string folder = kInstall + "\\" + std::string(257 - kInstall.size() - 13, 'f');
  ASSERT_EQ((folder + "\\Targets.DAT").size(), 257u);
  const std::string host =
      sb_->Prefix() + "/drive_c/Program Files/Framekeep/" + folder.substr(kInstall.size() + 1);
  ASSERT_EQ(std::system(("mkdir -p '" + host + "'").c_str()), 0);
  WriteFileBytes(host + "/Targets.DAT", old_);
  sb_->SetInstallDir(folder);
  RunResult r = sb_->Run({});
  EXPECT_EQ(r.out, kBanner + "  Location: " + folder + "\r\n  Targets.DAT version: OK\r\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(sb_->Run({"-exp", "-fil=out.ini"}).code, 0);
  EXPECT_EQ(Import().out, Imported(30));
  EXPECT_TRUE(ReadFileBytes(host + "/Targets.DAT") == fresh_);
}

// The folder refuses new files (chattr +i stops even root from making one, while Targets.DAT
// stays writable): the import rewrites the file in place under a journal, which goes once it is
// done; and a torn file that a stopped rewrite left is put back from its journal by the next run.
TEST_P(DataFileRuns, InPlaceRewritesUnderAJournal) {
  if (Native()) GTEST_SKIP() << "keepxfer: Hostile.AKilledInPlaceRewriteIsUndoneByTheNextRun";
  if (!IsRegular(KEEPXFER_HOLDER)) GTEST_SKIP() << "holder.exe is not built";
  const std::string folder = sb_->ProductDir();
  if (std::system(("chattr +i '" + folder + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "chattr +i does not work on this file system";
  }
  struct Immutable {
    std::string folder;
    ~Immutable() { std::system(("chattr -i '" + folder + "'").c_str()); }
  } immutable{folder};
  const passwd* user = getpwuid(geteuid());
  const std::string journals = sb_->Prefix() + "/drive_c/users/" +
                               std::string(user != nullptr ? user->pw_name : "root") +
                               "/AppData/Local/Keepxfer";
  RunResult r = Import();
  EXPECT_EQ(r.out, Imported(30));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(sb_->ReadData() == fresh_);
  EXPECT_TRUE(NoJournalIn(journals));

  // A stopped rewrite: the journal of it, and the file half old, half new.
  const std::string identity_file = sb_->Root() + "/identity";
  BackgroundWineProgram identity(*sb_,
                                 {WindowsPathOf(KEEPXFER_HOLDER), kInstall + "\\Targets.DAT",
                                  "identity", WindowsPathOf(identity_file)},
                                 identity_file);
  ASSERT_EQ(identity.Wait(), 0);
  std::istringstream fields(ReadFileBytes(identity_file));
  std::uint64_t volume = 0, index = 0;
  std::string path;
  fields >> std::hex >> volume >> index;
  std::getline(fields >> std::ws, path);
  const std::string torn = old_.substr(0, 3000) + fresh_.substr(3000);
  fs::create_directories(journals);
  WriteFileBytes(journals + "/" + JournalName("Targets.DAT", volume, index),
                 EncodeJournal({path, volume, index, fresh_, old_}));
  sb_->WriteData(torn);
  r = sb_->Run({});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(sb_->ReadData() == fresh_);
  EXPECT_TRUE(NoJournalIn(journals));
}

// The same for another user, who may write Targets.DAT but not its folder: the journal goes to
// their own %LOCALAPPDATA%\Keepxfer, else to their temporary folder's Keepxfer; where neither
// takes it, the import stops with the journal folder's own error and the file as it was.
TEST_P(DataFileRuns, InPlaceRewritesAsAnotherUser) {
  if (Native()) GTEST_SKIP() << "keepxfer: JournalFolderTest";
  const std::string ini = ReadFileBytes(sb_->ProgramDir() + "/in.ini");
  const std::string why = sb_->MoveToNobodysPrefix();
  if (!why.empty()) GTEST_SKIP() << why;
  sb_->SetInstallDir(kInstall);
  sb_->WriteData(old_);
  WriteFileBytes(sb_->ProgramDir() + "/in.ini", ini);
  ASSERT_EQ(chmod((sb_->ProgramDir() + "/in.ini").c_str(), 0644), 0);
  ASSERT_EQ(chown(sb_->DataFile().c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown(sb_->ProductDir().c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(sb_->ProductDir().c_str(), 0755), 0);
  const std::string local = sb_->WineFolder("LOCALAPPDATA");
  const std::string temp = sb_->WineFolder("TEMP");
  const std::set<std::string> only_the_file = {"Targets.DAT"};

  RunResult r = Import();
  EXPECT_EQ(r.out, Imported(30));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(sb_->ReadData() == fresh_);
  EXPECT_EQ(ProductFiles(), only_the_file);
  EXPECT_TRUE(fs::is_directory(local + "/Keepxfer") && NoJournalIn(local + "/Keepxfer"));

  // %LOCALAPPDATA%\Keepxfer refuses the journal: the temporary folder takes it. The copies that
  // imports keep still have their folder there.
  auto refuse = [](const std::string& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder + "/Backups");
    ASSERT_EQ(chown((folder + "/Backups").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  };
  refuse(local + "/Keepxfer");
  sb_->WriteData(old_);
  r = Import();
  EXPECT_EQ(r.out, Imported(30));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(sb_->ReadData() == fresh_);
  EXPECT_TRUE(fs::is_directory(temp + "/Keepxfer") && NoJournalIn(temp + "/Keepxfer"));

  // Neither does.
  refuse(temp + "/Keepxfer");
  sb_->WriteData(old_);
  r = Import();
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(Report(r), "EInOutError: I/O error 5.");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(sb_->ReadData() == old_);
  EXPECT_EQ(ProductFiles(), only_the_file);
}

// Keepxfer.exe uses the copy of Targets.DAT that Windows keeps for the product in VirtualStore,
// where there is one, in every mode, and says so; the original under Program Files is left alone.
// Wine keeps no such copy: it is planted, as a run that is not virtualised (elevated, a scheduled
// task) finds it on Windows.
TEST_P(DataFileRuns, TheVirtualStoreCopyIsTheDataFile) {
  if (Native())
    GTEST_SKIP() << "Wine keeps no VirtualStore: the product's files are where they are";
  const std::string local = sb_->WineFolder("LOCALAPPDATA");
  fs::remove_all(local + "/VirtualStore");
  WriteFileBytes(sb_->ProgramDir() + "/in.ini", IniOf(old_));
  const std::string store = local + "/VirtualStore/Program Files/Framekeep";
  fs::create_directories(store);
  WriteFileBytes(store + "/Targets.DAT", fresh_);
  std::string shown = "C:\\" + local.substr((sb_->Prefix() + "/drive_c/").size()) +
                      "\\VirtualStore\\Program Files\\Framekeep\\Targets.DAT";
  for (char& c : shown) c = c == '/' ? '\\' : c;
  RunResult r = sb_->Run({});
  EXPECT_EQ(r.out, kBanner + "  Location: " + kInstall + "\r\n  Targets.DAT in VirtualStore: " +
                       shown + "\r\n  Targets.DAT version: OK\r\n");
  r = sb_->Run({"-exp", "-fil=out.ini"});
  EXPECT_EQ(r.out, kBanner + "30 entries saved to " + sb_->Shown("out.ini") + "\r\n");
  EXPECT_EQ(Import().out, Imported(20));
  EXPECT_TRUE(ReadFileBytes(store + "/Targets.DAT") == old_);
  fs::remove_all(local + "/VirtualStore");
  EXPECT_TRUE(sb_->ReadData() == old_);
  EXPECT_EQ(ProductFiles(), std::set<std::string>{"Targets.DAT"});
}

INSTANTIATE_TEST_SUITE_P(Builds, DataFileRuns, ::testing::Values(Flavour::kNative, Flavour::kWine),
                         [](const ::testing::TestParamInfo<Flavour>& info) {
                           return info.param == Flavour::kNative ? std::string("Native")
                                                                 : std::string("Wine");
                         });

}  // namespace
