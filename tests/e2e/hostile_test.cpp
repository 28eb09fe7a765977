// A hostile or crowded file system, against the real program: special files in the places of
// its files, signals and limits at exact moments of a save, a link put in the data file's place
// between its check and its replacement, a kill in the middle of an in-place rewrite, and a home
// that may not be written. Each fault is placed at an exact system call (fault-interposer.cpp);
// each case checks the report, the exit code and every file's bytes afterwards.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <thread>

#include "tests/TargetsBuilder.h"
#include "tests/e2e/Sandbox.h"

namespace {

const std::string kBanner = "\r\nFramekeep Export/Import 1.32  https://framekeep.example/\r\n";

std::string Report(const RunResult& r) { return ReportOf(r.err, "keepxfer"); }

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    sb_.SetInstallDir("C:\\Program Files\\Framekeep");
    sb_.WriteData(old_);
    WriteFileBytes(sb_.ProgramDir() + "/in.ini", IniOf(fresh_));
  }
  // The exchange file a real export of `data` gives.
  std::string IniOf(const std::string& data) {
    std::string keep = sb_.ReadData();
    sb_.WriteData(data);
    std::string path = sb_.ProgramDir() + "/made.ini";
    unlink(path.c_str());
    EXPECT_EQ(sb_.Run({"-exp", "-fil=made.ini"}).code, 0);
    sb_.WriteData(keep);
    return ReadFileBytes(path);
  }
  std::set<std::string> ProductFiles() const {
    std::set<std::string> names;
    DIR* listing = opendir(sb_.ProductDir().c_str());
    while (const dirent* entry = readdir(listing)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(listing);
    return names;
  }
  RunResult Import(const RunOptions& options = {}) {
    return sb_.Run({"-imp", "-fil=in.ini"}, options);
  }

  Sandbox sb_;
  const std::string old_ = BuildTargets(SampleEntries(20));
  const std::string fresh_ = BuildTargets(SampleEntries(30));
  const std::string imported_ =
      kBanner + "30 entries loaded from " + sb_.ProgramDir() + "/in.ini.\r\n";
};

TEST_F(Hostile, SpecialFilesNeverHang) {
  // A named pipe as the data file: every mode that opens it refuses it, at once.
  unlink(sb_.DataFile().c_str());
  ASSERT_EQ(mkfifo(sb_.DataFile().c_str(), 0666), 0);
  RunOptions quick;
  quick.timeout_seconds = 10;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"-?"}, {"-exp"}, {"-imp", "-fil=in.ini"}}) {
    RunResult r = sb_.Run(args, quick);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(Report(r), "EInOutError: File access denied.") << r.out;
    EXPECT_EQ(r.code, 1);
  }
  unlink(sb_.DataFile().c_str());
  sb_.WriteData(old_);

  // A named pipe as the exchange file: it reads as absent and cannot be written.
  ASSERT_EQ(mkfifo((sb_.ProgramDir() + "/pipe.ini").c_str(), 0666), 0);
  RunResult r = sb_.Run({"-exp", "-fil=pipe.ini"}, quick);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(Report(r), "EIniFileException: Unable to write to " + sb_.ProgramDir() + "/pipe.ini.");
  r = sb_.Run({"-imp", "-fil=pipe.ini"}, quick);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(Report(r), "EIniFileException: " + sb_.ProgramDir() +
                           "/pipe.ini: [Header] is missing: this is no exchange file.");
  EXPECT_EQ(sb_.ReadData(), old_);

  // A named pipe as the registry: no registry, so no installation.
  unlink((sb_.Prefix() + "/user.reg").c_str());
  ASSERT_EQ(mkfifo((sb_.Prefix() + "/user.reg").c_str(), 0666), 0);
  r = sb_.Run({}, quick);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.out, kBanner + "Framekeep not installed!\r\n");
  EXPECT_EQ(r.code, 1);
}

// By a link or another name for the same file (the plain path is a case of Cli).
TEST_F(Hostile, TheExchangeFileIsNeverTheDataFile) {
  std::string link = sb_.Root() + "/link.DAT";
  std::string hard = sb_.Root() + "/hard.DAT";
  ASSERT_EQ(symlink(sb_.DataFile().c_str(), link.c_str()), 0);
  ASSERT_EQ(::link(sb_.DataFile().c_str(), hard.c_str()), 0);
  for (const std::string& name : {link, hard}) {
    for (const char* mode : {"-exp", "-imp"}) {
      RunResult r = sb_.Run({mode, "-fil=" + name});
      EXPECT_EQ(r.out, kBanner) << mode << " " << name;
      EXPECT_EQ(Report(r), "EIniFileException: Unable to write to " + name +
                               ": it is the data file C:\\Program Files\\Framekeep/Targets.DAT.");
      EXPECT_EQ(r.code, 1);
      EXPECT_EQ(sb_.ReadData(), old_);
    }
  }
}

TEST_F(Hostile, FileSizeLimitsFailTheWriteInsteadOfKillingTheRun) {
  // Below the new data file: the save fails, the old file and no temporary file stay.
  RunOptions limited;
  limited.wrapper = {"bash", "-c", "ulimit -f 8 && exec \"$@\"", "bash"};
  RunResult r = Import(limited);
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(Report(r), "EInOutError: I/O error 27.");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(sb_.ReadData(), old_);
  EXPECT_EQ(ProductFiles(), std::set<std::string>{"Targets.DAT"});

  // Below the exchange file: the export fails, and the file ends with a whole line.
  const std::string many = BuildTargets(SampleEntries(100));
  sb_.WriteData(many);
  r = sb_.Run({"-exp", "-fil=limited.ini"}, limited);
  EXPECT_EQ(Report(r),
            "EIniFileException: Unable to write to " + sb_.ProgramDir() + "/limited.ini.");
  std::string partial = ReadFileBytes(sb_.ProgramDir() + "/limited.ini");
  EXPECT_GT(partial.size(), 4000u);
  EXPECT_LE(partial.size(), 8192u);
  EXPECT_EQ(partial.substr(partial.size() - 2), "\r\n");
  EXPECT_EQ(IniOf(many).compare(0, partial.size(), partial), 0);
}

TEST_F(Hostile, StoppedSavesLeaveOldOrNewAndNoTemporaryFile) {
  // Killed with the new file written: the old file stays; the next save removes what the
  // killed one left.
  RunResult r = Import(WithFault("fsync:1:kill:/.Targets.DAT."));
  EXPECT_EQ(r.code, 128 + SIGKILL);
  EXPECT_EQ(sb_.ReadData(), old_);
  EXPECT_EQ(ProductFiles().size(), 2u);
  EXPECT_EQ(Import().out, imported_);
  EXPECT_EQ(sb_.ReadData(), fresh_);
  EXPECT_EQ(ProductFiles(), std::set<std::string>{"Targets.DAT"});

  // Stopped by a signal there: the run removes its temporary file and still ends by the signal.
  for (const char* signal : {"term", "int", "hup"}) {
    sb_.WriteData(old_);
    r = Import(WithFault(std::string("fsync:1:") + signal + ":/.Targets.DAT."));
    EXPECT_TRUE(r.code == 128 + SIGTERM || r.code == 128 + SIGINT || r.code == 128 + SIGHUP);
    EXPECT_EQ(sb_.ReadData(), old_) << signal;
    EXPECT_EQ(ProductFiles(), std::set<std::string>{"Targets.DAT"}) << signal;
  }
}

// Another user who may write the install folder renames a link to a root-only file over
// Targets.DAT after its version was checked; the run must not follow it.
TEST_F(Hostile, ALinkPutInPlaceOfTheCheckedFileIsNotFollowed) {
  std::string victim = sb_.Root() + "/victim";
  std::string swap = sb_.Root() + "/swap";
  struct Case {
    std::vector<std::string> args;
    std::string fault;
  } cases[] = {
      {{"-imp", "-fil=in.ini"}, "fsync:1:pause:/.Targets.DAT."},  // while the new file is written
      {{"-exp", "-fil=out.ini"}, "openat:2:pause:Targets.DAT"},   // between check and load
  };
  for (const Case& c : cases) {
    WriteFileBytes(victim, "root only\n");
    unlink(sb_.DataFile().c_str());
    sb_.WriteData(old_);
    FaultPause pause(sb_.Root());
    RunResult r;
    std::thread run([&] { r = sb_.Run(c.args, pause.Options(c.fault)); });
    if (!pause.AwaitReached()) {
      ADD_FAILURE() << "the program never came to " << c.fault;
      run.join();
      continue;
    }
    unlink(swap.c_str());
    ASSERT_EQ(symlink(victim.c_str(), swap.c_str()), 0);
    ASSERT_EQ(rename(swap.c_str(), sb_.DataFile().c_str()), 0);
    pause.Resume();
    run.join();
    unlink((sb_.Root() + "/reached").c_str());
    unlink((sb_.Root() + "/resume").c_str());
    EXPECT_EQ(Report(r), "EInOutError: File access denied.") << c.fault;
    EXPECT_EQ(ReadFileBytes(victim), "root only\n");
    EXPECT_FALSE(IsRegular(sb_.ProgramDir() + "/out.ini"));
    EXPECT_EQ(ProductFiles(), std::set<std::string>{"Targets.DAT"});
  }
}

// The folder refuses new files, and the run is killed in the middle of the in-place rewrite:
// the next run, whatever its mode, puts the old file back from the journal.
TEST_F(Hostile, AKilledInPlaceRewriteIsUndoneByTheNextRun) {
  if (std::string why = WhyNotUnprivileged(); !why.empty()) GTEST_SKIP() << why;
  chmod(sb_.ProductDir().c_str(), 0555);
  chmod(sb_.DataFile().c_str(), 0666);
  RunOptions torn = WithFault("pwrite:1:tear:Framekeep/Targets.DAT");
  torn.unprivileged = true;
  RunResult r = Import(torn);
  EXPECT_EQ(r.code, 128 + SIGKILL);
  std::string half = sb_.ReadData();
  EXPECT_TRUE(half != old_ && half != fresh_);
  RunOptions nobody;
  nobody.unprivileged = true;
  r = sb_.Run({}, nobody);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(sb_.ReadData(), old_);
  // The journal went with the recovery, and a whole rewrite leaves none either.
  EXPECT_EQ(Import(nobody).out, imported_);
  EXPECT_EQ(sb_.ReadData(), fresh_);
  DIR* journals = opendir((sb_.Root() + "/home/.local/state/keepxfer").c_str());
  ASSERT_NE(journals, nullptr);
  int count = 0;
  // Beside the folder of the copies that imports keep.
  while (const dirent* entry = readdir(journals)) {
    count += entry->d_name[0] != '.' && std::string(entry->d_name) != "backups";
  }
  closedir(journals);
  EXPECT_EQ(count, 0);
  chmod(sb_.ProductDir().c_str(), 0777);
}

// The same for the exchange file: it lies in a folder that lets its user write it but make no
// file, and an export that shortens a value is killed between the in-place rewrite's write and its
// truncation. The next export puts the file back from the journal and finishes it: the user's
// section stays, once, with no remains of the longer file, and the file imports as what was
// exported.
TEST_F(Hostile, AKilledInPlaceRewriteOfTheExchangeFileIsUndoneByTheNextRun) {
  if (std::string why = WhyNotUnprivileged(); !why.empty()) GTEST_SKIP() << why;
  const std::string folder = sb_.Root() + "/shared";
  const std::string ini = folder + "/rules.ini";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  WriteFileBytes(ini,
                 "[Entry0]\r\nWindowName=" + std::string(300, 'w') + "\r\n[Mine]\r\nkeep=this\r\n");
  ASSERT_EQ(chmod(ini.c_str(), 0666), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  sb_.WriteData(fresh_);
  RunOptions killed = WithFault("ftruncate:1:kill:rules.ini");
  killed.unprivileged = true;
  EXPECT_EQ(sb_.Run({"-exp", "-fil=" + ini}, killed).code, 128 + SIGKILL);
  RunOptions nobody;
  nobody.unprivileged = true;
  RunResult r = sb_.Run({"-exp", "-fil=" + ini}, nobody);
  EXPECT_EQ(r.code, 0) << r.err;
  const std::string text = ReadFileBytes(ini);
  EXPECT_EQ(text.find("keep=this"), text.rfind("keep=this"));
  EXPECT_NE(text.find("[Mine]\r\nkeep=this\r\n"), std::string::npos) << text;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "a line without its end at " << start;
    const std::string line = text.substr(start, end - start);
    EXPECT_TRUE(line.front() == '[' || line.find('=') != std::string::npos) << line;
    start = end + 2;
  }
  sb_.WriteData(old_);
  EXPECT_EQ(sb_.Run({"-imp", "-fil=" + ini}).code, 0);
  EXPECT_TRUE(sb_.ReadData() == fresh_);
  chmod(folder.c_str(), 0755);
}

// The folder refuses new files, and the state folder in the home may not be written (only its
// folder of copies may): the journal goes to a private folder in the temporary folder. With that
// refused too, the import stops with the state folder's error number, and Targets.DAT is
// untouched.
TEST_F(Hostile, AnInPlaceRewriteKeepsItsJournalInTheTemporaryFolderWhenTheHomeIsReadOnly) {
  if (std::string why = WhyNotUnprivileged(); !why.empty()) GTEST_SKIP() << why;
  chmod(sb_.ProductDir().c_str(), 0555);
  chmod(sb_.DataFile().c_str(), 0666);
  const std::string home = sb_.Root() + "/home";
  const std::string copies = home + "/.local/state/keepxfer/backups";
  ASSERT_EQ(std::system(("mkdir -p '" + copies + "' && chown 65534 '" + copies + "'").c_str()), 0);
  const std::string tmp = sb_.Root() + "/tmp";
  const std::string locked_tmp = sb_.Root() + "/locked-tmp";
  ASSERT_EQ(chmod(home.c_str(), 0555), 0);
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  ASSERT_EQ(chmod(tmp.c_str(), 01777), 0);
  ASSERT_EQ(mkdir(locked_tmp.c_str(), 0555), 0);
  RunOptions nobody;
  nobody.unprivileged = true;
  nobody.env = {"XDG_STATE_HOME=", "TMPDIR=" + tmp};
  RunResult r = Import(nobody);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, imported_);
  EXPECT_EQ(sb_.ReadData(), fresh_);
  DIR* journals = opendir((tmp + "/keepxfer-65534").c_str());
  ASSERT_NE(journals, nullptr);
  int count = 0;
  while (const dirent* entry = readdir(journals)) count += entry->d_name[0] != '.';
  closedir(journals);
  EXPECT_EQ(count, 0);

  sb_.WriteData(old_);
  nobody.env = {"XDG_STATE_HOME=", "TMPDIR=" + locked_tmp};
  r = Import(nobody);
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(Report(r), "EInOutError: I/O error 13.");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(sb_.ReadData(), old_);
  EXPECT_EQ(ProductFiles(), std::set<std::string>{"Targets.DAT"});
  chmod(sb_.ProductDir().c_str(), 0777);
}

// Several writers of one exchange file at once: three exports of `entries`, 20 and 40 more
// entries, with the exports' `options`, and another program appending a section of its own every
// 300 µs the whole time. Every run that reports success leaves each of its items in the file, and
// nothing another program wrote is lost.
void ConcurrentWritersOfOneExchangeFile(Sandbox& sb_, int entries, const RunOptions& options) {
  const std::string ini = sb_.ProgramDir() + "/shared.ini";
  const std::string datas[] = {BuildTargets(SampleEntries(entries)),
                               BuildTargets(SampleEntries(entries + 20)),
                               BuildTargets(SampleEntries(entries + 40))};
  std::vector<std::unique_ptr<Sandbox>> others;
  std::vector<std::thread> runs;
  std::atomic<bool> done{false};
  std::atomic<int> appended{0};
  std::thread appender([&] {
    while (!done) {
      std::string section = "[Other" + std::to_string(appended) + "]\r\nx=y\r\n";
      int fd = open(ini.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
      if (write(fd, section.data(), section.size()) == static_cast<ssize_t>(section.size())) {
        ++appended;
      }
      close(fd);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });
  int codes[3] = {-1, -1, -1};
  for (int i = 0; i < 3; ++i) {
    // Each export reads a data file of its own, in a prefix of its own.
    others.push_back(std::make_unique<Sandbox>());
    others[i]->SetInstallDir("C:\\Program Files\\Framekeep");
    others[i]->WriteData(datas[i]);
  }
  for (int i = 0; i < 3; ++i) {
    runs.emplace_back([&, i] {
      RunResult r = others[i]->Run({"-exp", "-fil=" + ini}, options);
      codes[i] = r.code;
      if (r.code != 0) std::printf("export %d: %s\n", i, r.err.c_str());
    });
  }
  for (std::thread& run : runs) run.join();
  done = true;
  appender.join();
  const std::string text = ReadFileBytes(ini);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  // Every line is a whole line of one of the writers.
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "a line without its end at " << start;
    std::string line = text.substr(start, end - start);
    bool whole = (line.front() == '[' && line.back() == ']') || line.find('=') != std::string::npos;
    EXPECT_TRUE(whole) << line;
    start = end + 2;
  }
  // Every section of the other program, once.
  for (int i = 0; i < appended; ++i) {
    std::string section = "[Other" + std::to_string(i) + "]\r\nx=y\r\n";
    EXPECT_NE(text.find(section), std::string::npos) << section;
  }
  // The exports ran one item at a time, each on what the others left: the file holds the
  // entries of the longest, and every entry of the last one to finish its last item is right.
  for (int code : codes) EXPECT_EQ(code, 0);
  sb_.WriteData(BuildTargets({}));
  RunResult r = sb_.Run({"-imp", "-fil=" + ini});
  EXPECT_EQ(r.code, 0) << r.err;
  std::string imported = sb_.ReadData();
  bool one_of_them = false;
  for (const std::string& data : datas) one_of_them = one_of_them || imported == data;
  EXPECT_TRUE(one_of_them) << "the import found a mix of the exports";
}

TEST_F(Hostile, ConcurrentWritersOfOneExchangeFile) {
  ConcurrentWritersOfOneExchangeFile(sb_, 150, {});
}

// The same on a slow machine (or under the sanitizers): every read of the exchange file takes a
// millisecond, so that the other program appends between an export's look at the file and its
// write, item after item. Its appends must not make the exports give up.
TEST_F(Hostile, ConcurrentWritersOfOneExchangeFileOnASlowMachine) {
  ConcurrentWritersOfOneExchangeFile(sb_, 15, WithFault("pread:0:delay=1000:shared.ini"));
}

// An export has renamed the new exchange file over the old one and asks for the old file's lease
// to learn whether another program still has it open; that moment, another program opens it. The
// kernel then sends the export SIGIO, which must not end it.
TEST_F(Hostile, AnOpenThatBreaksTheOldFilesLeaseDoesNotStopTheExport) {
  WriteFileBytes(sb_.ProgramDir() + "/in.ini", "[Header]\r\nWord1=11\r\n");
  RunResult r = sb_.Run({"-exp", "-fil=in.ini"}, WithFault("fcntl:1:breaklease:in.ini (deleted)"));
  EXPECT_EQ(r.code, 0) << r.err;
  sb_.WriteData(fresh_);
  EXPECT_EQ(Import().code, 0);
  EXPECT_TRUE(sb_.ReadData() == old_);
}

}  // namespace
