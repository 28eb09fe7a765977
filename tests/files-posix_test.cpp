// The data file's open, read and replacement on POSIX systems, beyond what every build does
// (files_test.cpp): faults and stops placed at exact system calls through the file layer's seam
// (a stop is a child process that ends right there, as a killed run would), owners and modes,
// links, the sweep of temporary files, and the journal's primitives.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>

#include "base/Errors.h"
#include "platform/journal.h"
#include "posix/temp-file.h"
#include "tests/DataFileFixture.h"
#include "tests/ErrorOf.h"
#include "tests/FaultyIo.h"
#include "tests/Processes.h"
#include "tests/TestFiles.h"

namespace {

using DataFileTest = DataFileFixture;

// ---- A replacement is a new file, flushed and renamed over the old one ----

// (files_test.cpp has what every build does; these are the POSIX layer's own calls.)
TEST_F(DataFileTest, ReplacementIsANewFileFlushedBeforeItsRename) {
  FaultyIo io;
  {
    ScopedIo scoped(&io);
    Save(kNew);
  }
  EXPECT_TRUE(ReadFileBytes(data_) == kNew);
  EXPECT_EQ(io.Count(FaultyIo::kPWrite, "/Targets.DAT"), 0);
  // The new file reached the disk before it took the name.
  const std::vector<std::string>& log = io.log();
  auto sync = std::find_if(log.begin(), log.end(), [](const std::string& entry) {
    return entry.rfind("sync ", 0) == 0 && entry.find("/.Targets.DAT.") != std::string::npos;
  });
  auto rename = std::find_if(log.begin(), log.end(), [](const std::string& entry) {
    return entry.rfind("rename ", 0) == 0;
  });
  ASSERT_NE(sync, log.end());
  ASSERT_NE(rename, log.end());
  EXPECT_LT(sync - log.begin(), rename - log.begin());
}

TEST_F(DataFileTest, ReplacementKeepsTheModeAndALinkWithItsTarget) {
  ASSERT_EQ(chmod(data_.c_str(), 0640), 0);
  Save(kNew);
  struct stat st;
  ASSERT_EQ(stat(data_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A link that the user set up stays a link, and its target gets the new bytes.
  std::string real = dir_ / "real.DAT";
  WriteFileBytes(real, kOld);
  ASSERT_EQ(unlink(data_.c_str()), 0);
  ASSERT_EQ(symlink(real.c_str(), data_.c_str()), 0);
  Save(kNew);
  EXPECT_EQ(lstat(data_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_TRUE(ReadFileBytes(real) == kNew);
}

// Each failing call ends the save with its error, and leaves the old file and no temporary file.
TEST_F(DataFileTest, FailedCallsLeaveTheOldFile) {
  struct Case {
    FaultyIo::Call call;
    std::string path;
    int error;
    std::string report;
  } cases[] = {
      {FaultyIo::kPWrite, "/.Targets.DAT.", ENOSPC, "EInOutError: I/O error 28"},
      {FaultyIo::kSync, "/.Targets.DAT.", EIO, "EInOutError: I/O error 5"},
      {FaultyIo::kClose, "/.Targets.DAT.", EIO, "EInOutError: I/O error 5"},
      {FaultyIo::kRename, "Targets.DAT", EXDEV, "EInOutError: I/O error 18"},
      {FaultyIo::kChmod, "/.Targets.DAT.", EPERM, "EInOutError: File access denied"},
  };
  for (const Case& c : cases) {
    WriteFileBytes(data_, kOld);
    FaultyIo io;
    io.FailAt(c.call, c.path, 1, c.error);
    ScopedIo scoped(&io);
    EXPECT_EQ(ErrorOf([&] { Save(kNew); }), c.report) << c.report;
    EXPECT_TRUE(ReadFileBytes(data_) == kOld);
    EXPECT_EQ(Listing(), std::set<std::string>{"Targets.DAT"});
  }
}

// A rename that this user may not make (a folder with the sticky bit and a file of another user's)
// leaves the new file to the in-place rewrite, under a journal, and no temporary file behind.
TEST_F(DataFileTest, ARefusedRenameRewritesInPlace) {
  FaultyIo io;
  io.FailAt(FaultyIo::kRename, "Targets.DAT", 1, EPERM);
  {
    ScopedIo scoped(&io);
    Save(kNew);
  }
  EXPECT_TRUE(ReadFileBytes(data_) == kNew);
  EXPECT_EQ(Listing(), std::set<std::string>{"Targets.DAT"});
  EXPECT_GT(io.Count(FaultyIo::kPWrite, "/Targets.DAT"), 0);
}

// A run killed at any point of a save leaves the old file or the new one, never a mix; what a
// killed run leaves behind, the next save removes.
TEST_F(DataFileTest, StoppedSavesLeaveOldOrNewAndTheNextSaveCleansUp) {
  struct Stop {
    FaultyIo::Call call;
    std::string path;
    bool new_file;
  } stops[] = {
      {FaultyIo::kPWrite, "/.Targets.DAT.", false},
      {FaultyIo::kSync, "/.Targets.DAT.", false},
      {FaultyIo::kRename, "Targets.DAT", false},
      {FaultyIo::kSync, "/Framekeep$", true},
  };
  for (const Stop& stop : stops) {
    WriteFileBytes(data_, kOld);
    FaultyIo io;
    io.Before(stop.call, stop.path, 1, [] { _exit(9); });
    int status = InChild(&io, [&] { Save(kNew); });
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << status;
    EXPECT_TRUE(ReadFileBytes(data_) == (stop.new_file ? kNew : kOld));
    // A run killed before its rename leaves its temporary file; the next save removes it.
    EXPECT_EQ(Listing().size(), stop.new_file ? 1u : 2u);
  }
  ASSERT_EQ(std::system(("touch '" + product_ + "/.Targets.DAT.q1W2e3'").c_str()), 0);
  Save(kNew);
  EXPECT_EQ(Listing(), std::set<std::string>{"Targets.DAT"});
}

TEST_F(DataFileTest, TheSweepSparesATemporaryFileThatIsStillBeingWritten) {
  std::string stale = product_ + "/.Targets.DAT.AbC123";
  std::string live = product_ + "/.Targets.DAT.XyZ789";
  std::string other = product_ + "/.Targets.DAT.toolong1";
  for (const std::string& name : {stale, live, other}) WriteFileBytes(name, "partial");
  int held = open(live.c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  Save(kNew);
  EXPECT_EQ(Listing(),
            (std::set<std::string>{"Targets.DAT", ".Targets.DAT.XyZ789", ".Targets.DAT.toolong1"}));
  close(held);
}

// ---- The file replaced is the file that was checked ----

// A data file that is a folder is refused, and no descriptor of it stays behind.
TEST_F(DataFileTest, AFolderIsNoDataFile) {
  ASSERT_EQ(unlink(data_.c_str()), 0);
  ASSERT_EQ(mkdir(data_.c_str(), 0777), 0);
  auto open_files = [] {
    int count = 0;
    DIR* listing = opendir("/proc/self/fd");
    while (readdir(listing) != nullptr) ++count;
    closedir(listing);
    return count;
  };
  int before = open_files();
  EXPECT_EQ(ErrorOf([&] { Load(); }), "EInOutError: File access denied");
  EXPECT_EQ(open_files(), before);
}

// ---- Owners and modes ----

TEST_F(DataFileTest, OwnersAndModesAreKept) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to own files of other users";
  chmod(dir_.path().c_str(), 0777);
  chmod(product_.c_str(), 0777);
  struct Case {
    uid_t owner;
    gid_t group;
    mode_t mode;
    bool as_root;  // else as nobody, with the groups below
    std::vector<gid_t> groups;
    uid_t new_owner;
    gid_t new_group;
    mode_t new_mode;
  } cases[] = {
      // Root keeps the owner, then the mode, so that the setuid and setgid bits stay.
      {1234, 50, 06644, true, {}, 1234, 50, 06644},
      // A member of the file's group who may write it keeps the group; the owner is the user.
      {0, 50, 0660, false, {50}, 65534, 50, 0660},
      // Someone else's group cannot be kept: the user's own group gets no more than others had.
      {0, 50, 0666, false, {}, 65534, 65534, 0666},
      {0, 50, 0672, false, {}, 65534, 65534, 0622},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(chown(data_.c_str(), c.owner, c.group), 0);
    ASSERT_EQ(chmod(data_.c_str(), c.mode), 0);
    if (c.as_root) {
      Save(kNew);
    } else {
      ASSERT_EQ(AsNobody(c.groups, [&] { Save(kNew); }), 0);
    }
    struct stat st;
    ASSERT_EQ(stat(data_.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, c.new_owner) << std::oct << c.mode;
    EXPECT_EQ(st.st_gid, c.new_group) << std::oct << c.mode;
    EXPECT_EQ(st.st_mode & 07777, c.new_mode) << std::oct << c.mode;
  }
}

// ---- No torn data file when the folder refuses new files ----

// The folder refuses new files: the seam refuses the temporary file.
// The first write of the data file's in-place rewrite writes 300 of the new bytes, and the run
// ends there, as a killed one would: a torn file.
void TearTheRewrite(FaultyIo* io, const std::string& path_part, const std::string& data,
                    const std::string& bytes) {
  io->Before(FaultyIo::kPWrite, path_part, 1, [data, bytes] {
    int fd = open(data.c_str(), O_WRONLY);
    if (pwrite(fd, bytes.data(), 300, 0) != 300) _exit(5);
    _exit(9);
  });
}

void RefuseNewFiles(FaultyIo* io) {
  for (int nth = 1; nth <= 100; ++nth) io->FailAt(FaultyIo::kOpen, "/.Targets.DAT.", nth, EACCES);
}

TEST_F(DataFileTest, InPlaceRewriteIsJournaledAndAStoppedOneIsUndone) {
  {
    FaultyIo io;
    RefuseNewFiles(&io);
    ScopedIo scoped(&io);
    struct stat before, after;
    stat(data_.c_str(), &before);
    Save(kNew);
    stat(data_.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);  // the same file, rewritten
    EXPECT_GT(io.Count(FaultyIo::kSync, "/state/keepxfer/"), 0);
  }
  EXPECT_TRUE(ReadFileBytes(data_) == kNew);
  EXPECT_EQ(Listing(), std::set<std::string>{"Targets.DAT"});

  // Stopped half way through the rewrite: the file is torn, the journal stays.
  WriteFileBytes(data_, kOld);
  FaultyIo io;
  RefuseNewFiles(&io);
  TearTheRewrite(&io, "/Targets.DAT", data_, kNew);
  int status = InChild(&io, [&] { Save(kNew); });
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << status;
  std::string torn = ReadFileBytes(data_);
  EXPECT_TRUE(torn != kOld && torn != kNew);
  // The next run, whatever it does with the file, finds the journal and puts the old bytes back.
  EXPECT_TRUE(Load() == kOld);
  EXPECT_TRUE(ReadFileBytes(data_) == kOld);
  DIR* journals = opendir((dir_ / "state/keepxfer").c_str());
  int count = 0;
  while (const dirent* entry = readdir(journals)) count += entry->d_name[0] != '.';
  closedir(journals);
  EXPECT_EQ(count, 0);
}

TEST_F(DataFileTest, AJournalThatTheFileDoesNotMatchIsLeftAlone) {
  struct stat st;
  ASSERT_EQ(stat(data_.c_str(), &st), 0);
  std::string folder = dir_ / "state/keepxfer";
  ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
  std::string journal = folder + "/" + JournalName("Targets.DAT", st.st_dev, st.st_ino);
  // Of this file, but the file changed since in a way no rewrite explains.
  std::string foreign =
      EncodeJournal({data_, st.st_dev, st.st_ino, std::string(296, 'x'), std::string(296, 'y')});
  WriteFileBytes(journal, foreign);
  EXPECT_TRUE(Load() == kOld);
  EXPECT_EQ(ReadFileBytes(journal), foreign);
  // Of another file with this file's name and identity.
  std::string elsewhere = EncodeJournal({dir_ / "elsewhere", st.st_dev, st.st_ino, "a", "b"});
  WriteFileBytes(journal, elsewhere);
  EXPECT_TRUE(Load() == kOld);
  EXPECT_EQ(ReadFileBytes(journal), elsewhere);
}

// ---- The journal's folders: the state folder, else a private folder in the temporary folder ----

// The temporary folder is a test folder of its own.
class JournalFolderTest : public DataFileFixture {
 protected:
  void SetUp() override {
    DataFileFixture::SetUp();
    std::filesystem::create_directories(tmp_);
  }

  // The product folder refuses the one new file of a save. (One rule: after the failure it causes,
  // the further rules of RefuseNewFiles would count the journal's temporary files too.)
  static void RefuseNewDataFile(FaultyIo* io) {
    io->FailAt(FaultyIo::kOpen, "/Framekeep/.Targets.DAT.", 1, EACCES);
  }
  // The state folder cannot be made: its first missing folder is refused with `error`.
  static void RefuseStateFolder(FaultyIo* io, int error) {
    io->FailAt(FaultyIo::kMakeDir, "/state$", 1, error);
  }
  // The state folder exists but takes no new file: the journal's temporary file is refused.
  static void RefuseFilesInStateFolder(FaultyIo* io) {
    io->FailAt(FaultyIo::kOpen, "/state/keepxfer/.Targets.DAT.", 1, EACCES);
  }
  // The names in `folder`.
  static std::set<std::string> NamesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  // What a planted journal would put into the data file.
  static std::string PlantedBytes() { return std::string(kOld.size() - 1, 'e') + kOld.back(); }
  // A journal by which the data file as it is (kOld) is a rewrite from PlantedBytes() stopped half
  // way, so that a recovery that believes it puts PlantedBytes() back; in `folder`.
  void PlantJournal(const std::string& folder) const {
    struct stat st;
    ASSERT_EQ(stat(data_.c_str(), &st), 0);
    std::string new_bytes = kOld.substr(0, kOld.size() - 1) + "x";
    WriteFileBytes(folder + "/" + JournalName("Targets.DAT", st.st_dev, st.st_ino),
                   EncodeJournal({std::filesystem::canonical(data_).string(), st.st_dev, st.st_ino,
                                  PlantedBytes(), new_bytes}));
  }
  // The folder that the private folder's name leads to, `planted`, is neither read nor written:
  // a journal in it is left alone, and a rewrite whose state folder is refused stops.
  void ExpectRefused(const std::string& planted) {
    WriteFileBytes(data_, kOld);
    PlantJournal(planted);
    EXPECT_TRUE(Load() == kOld);
    EXPECT_EQ(NamesIn(planted).size(), 1u);
    for (const std::string& name : NamesIn(planted)) std::filesystem::remove(planted + "/" + name);
    FaultyIo io;
    RefuseNewDataFile(&io);
    RefuseStateFolder(&io, EACCES);
    ScopedIo scoped(&io);
    EXPECT_EQ(ErrorOf([&] { Save(kNew); }), "EInOutError: I/O error 13");
    EXPECT_TRUE(ReadFileBytes(data_) == kOld);
    EXPECT_EQ(NamesIn(planted), std::set<std::string>{});
  }

  std::string tmp_ = dir_ / "tmp";
  ScopedEnv tmpdir_{"TMPDIR", tmp_};
  std::string private_ = tmp_ + "/keepxfer-" + std::to_string(geteuid());
};

TEST_F(JournalFolderTest, WhenTheStateFolderRefusesTheJournalTheRewriteUsesTheTemporaryFolder) {
  struct Case {
    const char* what;
    std::function<void(FaultyIo*)> refuse;
  } cases[] = {
      {"the state folder cannot be made", [](FaultyIo* io) { RefuseStateFolder(io, EACCES); }},
      {"the state folder takes no new file", RefuseFilesInStateFolder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(data_, kOld);
    struct stat before, after;
    ASSERT_EQ(stat(data_.c_str(), &before), 0);
    FaultyIo io;
    RefuseNewDataFile(&io);
    c.refuse(&io);
    {
      ScopedIo scoped(&io);
      Save(kNew);
    }
    ASSERT_EQ(stat(data_.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);  // the same file, rewritten
    EXPECT_TRUE(ReadFileBytes(data_) == kNew);
    // The journal reached the disk in the private folder, and went when the rewrite was done.
    EXPECT_GT(io.Count(FaultyIo::kSync, private_ + "/"), 0);
    struct stat folder;
    ASSERT_EQ(lstat(private_.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(NamesIn(private_), std::set<std::string>{});
    EXPECT_EQ(Listing(), std::set<std::string>{"Targets.DAT"});
  }
}

TEST_F(JournalFolderTest, AStoppedRewriteWithItsJournalInTheTemporaryFolderIsUndone) {
  FaultyIo io;
  RefuseNewDataFile(&io);
  RefuseStateFolder(&io, EACCES);
  TearTheRewrite(&io, "Framekeep/Targets.DAT", data_, kNew);
  int status = InChild(&io, [&] { Save(kNew); });
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << status;
  std::string torn = ReadFileBytes(data_);
  EXPECT_TRUE(torn != kOld && torn != kNew);
  EXPECT_EQ(NamesIn(private_).size(), 1u);
  // The next run, whose state folder may be written again, finds the journal where it is.
  EXPECT_TRUE(Load() == kOld);
  EXPECT_TRUE(ReadFileBytes(data_) == kOld);
  EXPECT_EQ(NamesIn(private_), std::set<std::string>{});
}

// The import stops with the state folder's own error number, not "File access denied", which
// would point at the data file; the data file is untouched.
TEST_F(JournalFolderTest, WhenNeitherFolderTakesTheJournalTheStateFoldersErrorStopsTheRewrite) {
  struct Case {
    int state_error;
    int temporary_error;
    std::string report;
  } cases[] = {
      {EACCES, ENOSPC, "EInOutError: I/O error 13"},
      {EROFS, EACCES, "EInOutError: I/O error 30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.report);
    WriteFileBytes(data_, kOld);
    FaultyIo io;
    RefuseNewDataFile(&io);
    RefuseStateFolder(&io, c.state_error);
    io.FailAt(FaultyIo::kMakeDir, private_, 1, c.temporary_error);
    ScopedIo scoped(&io);
    EXPECT_EQ(ErrorOf([&] { Save(kNew); }), c.report);
    EXPECT_EQ(io.Count(FaultyIo::kPWrite, "Framekeep/Targets.DAT"), 0);
    EXPECT_TRUE(ReadFileBytes(data_) == kOld);
    EXPECT_EQ(Listing(), std::set<std::string>{"Targets.DAT"});
  }
}

// A folder of the private folder's name that another user could have put there, or could write
// into, is refused: a journal planted in it would put its bytes into the data file.
TEST_F(JournalFolderTest, APlantedTemporaryJournalFolderIsRefused) {
  // This user's own folder: its journal counts, so the journal planted below is one that acts.
  ASSERT_EQ(mkdir(private_.c_str(), 0700), 0);
  PlantJournal(private_);
  EXPECT_TRUE(Load() == PlantedBytes());
  ASSERT_EQ(rmdir(private_.c_str()), 0);

  const std::string elsewhere = dir_ / "elsewhere";
  struct Case {
    const char* what;
    std::function<std::string()> plant;  // makes it; the folder its name leads to
  } cases[] = {
      {"a link to a folder of this user's",
       [&] {
         std::filesystem::create_directory(elsewhere);
         chmod(elsewhere.c_str(), 0700);
         symlink(elsewhere.c_str(), private_.c_str());
         return elsewhere;
       }},
      {"a folder its group may write",
       [&] {
         mkdir(private_.c_str(), 0700);
         chmod(private_.c_str(), 0770);
         return private_;
       }},
      {"a folder others may write",
       [&] {
         mkdir(private_.c_str(), 0700);
         chmod(private_.c_str(), 0707);
         return private_;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectRefused(c.plant());
    std::filesystem::remove_all(private_);
    std::filesystem::remove_all(elsewhere);
  }
}

// Another folder, that others may write, put in the private folder's place between its check and
// its opening.
TEST_F(JournalFolderTest, AFolderSwappedInAfterTheCheckIsRefused) {
  FaultyIo io;
  RefuseNewDataFile(&io);
  RefuseStateFolder(&io, EACCES);
  io.Before(FaultyIo::kOpen, private_ + "$", 1, [&] {
    ASSERT_EQ(rename(private_.c_str(), (private_ + ".checked").c_str()), 0);
    ASSERT_EQ(mkdir(private_.c_str(), 0700), 0);
    ASSERT_EQ(chmod(private_.c_str(), 0777), 0);
  });
  ScopedIo scoped(&io);
  EXPECT_EQ(ErrorOf([&] { Save(kNew); }), "EInOutError: I/O error 13");
  EXPECT_TRUE(ReadFileBytes(data_) == kOld);
  EXPECT_EQ(NamesIn(private_), std::set<std::string>{});
}

TEST_F(JournalFolderTest, ATemporaryJournalFolderOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a folder that another user owns";
  ASSERT_EQ(mkdir(private_.c_str(), 0700), 0);
  ASSERT_EQ(chown(private_.c_str(), 1234, 1234), 0);
  ExpectRefused(private_);
}

}  // namespace
