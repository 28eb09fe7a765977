// The journal's policy over a file layer held in memory: what counts as torn, finished, never
// started and not ours, and what a rewrite leaves when it fails or is stopped at any step.
#include "platform/journal.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/Errors.h"

namespace {

// The run ends here, as a killed one would: nothing after it runs.
struct Stopped {};

const JournaledFile kFile{"/home/ann/.wine/drive_c/Framekeep/Targets.DAT", "Targets.DAT", 0x801,
                          4711};
const std::string kOld = "OLD-TABLE-0123456789";
const std::string kNew = "NEW-TABLE-abcdefghijklmnopqrstuvwxyz";

class MemoryFiles : public JournalFiles {
 public:
  explicit MemoryFiles(int places = 1) : journals(places), write_errors(places, 0) {}

  int ReadData(std::string* bytes) override {
    *bytes = data;
    return 0;
  }

  int OverwriteData(const std::string& bytes) override {
    ++overwrites;
    log.push_back("overwrite " + bytes.substr(0, 3));
    if (overwrites == fail_overwrite || fail_every_overwrite) return PlainIoError(28);
    if (overwrites == stop_overwrite) {
      // As a platform's overwrite leaves it when stopped half way: the space of the longer
      // version reserved (zeros), the first half of the new bytes written.
      if (bytes.size() > data.size()) data.resize(bytes.size(), '\0');
      data.replace(0, bytes.size() / 2, bytes.substr(0, bytes.size() / 2));
      throw Stopped();
    }
    data = bytes;
    return 0;
  }

  int JournalPlaces() const override { return static_cast<int>(journals.size()); }

  bool ReadJournal(int place, const std::string& name, std::string* text) override {
    auto found = journals[place].find(name);
    if (found == journals[place].end()) return false;
    *text = found->second;
    return true;
  }

  int WriteJournal(int place, const std::string& name, const std::string& text) override {
    log.push_back("journal " + std::to_string(place));
    if (write_errors[place] != 0) return write_errors[place];
    journals[place][name] = text;
    if (stop_after_journal) throw Stopped();
    return 0;
  }

  void RemoveJournal(int place, const std::string& name) override {
    log.push_back("remove " + std::to_string(place));
    journals[place].erase(name);
  }

  int Journals() const {
    int count = 0;
    for (const auto& place : journals) count += static_cast<int>(place.size());
    return count;
  }

  std::string data = kOld;
  std::vector<std::map<std::string, std::string>> journals;
  std::vector<int> write_errors;
  int overwrites = 0;
  int fail_overwrite = 0;  // the nth overwrite fails with a full disk
  bool fail_every_overwrite = false;
  int stop_overwrite = 0;  // the run is stopped half way through the nth overwrite
  bool stop_after_journal = false;
  std::vector<std::string> log;
};

std::string JournalOf(const std::string& path, std::uint64_t file, const std::string& old_bytes,
                      const std::string& new_bytes) {
  return EncodeJournal(JournalRecord{path, kFile.volume, file, old_bytes, new_bytes});
}

const std::string kName = JournalName(kFile.leaf, kFile.volume, kFile.file);

TEST(JournalPolicy, ARewriteIsJournaledBeforeTheFileIsTouched) {
  MemoryFiles files;
  RewriteUnderJournal(files, kFile, kNew);
  EXPECT_EQ(files.data, kNew);
  EXPECT_EQ(files.log, (std::vector<std::string>{"journal 0", "overwrite NEW", "remove 0"}));
  EXPECT_EQ(files.Journals(), 0);
}

// A run stopped at each step of a rewrite: the next run finds the old file, or the new one.
TEST(JournalPolicy, AStoppedRewriteIsFinishedByTheNextRun) {
  struct Case {
    const char* step;
    std::string new_bytes;
    bool stop_after_journal;
    int stop_overwrite;
    std::string after_recovery;
  } cases[] = {
      {"journal written, file untouched", kNew, true, 0, kOld},
      {"torn, the new version longer", kNew, false, 1, kOld},
      {"torn, the new version shorter", "NEW", false, 1, kOld},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    MemoryFiles files;
    files.stop_after_journal = c.stop_after_journal;
    files.stop_overwrite = c.stop_overwrite;
    EXPECT_THROW(RewriteUnderJournal(files, kFile, c.new_bytes), Stopped);
    EXPECT_EQ(files.Journals(), 1);
    files.stop_after_journal = false;
    files.stop_overwrite = 0;
    RecoverFromJournal(files, kFile);
    EXPECT_EQ(files.data, c.after_recovery);
    EXPECT_EQ(files.Journals(), 0);
  }
  // Stopped after the rewrite, before its journal went: the new file stays.
  MemoryFiles files;
  files.data = kNew;
  files.journals[0][kName] = JournalOf(kFile.path, kFile.file, kOld, kNew);
  RecoverFromJournal(files, kFile);
  EXPECT_EQ(files.data, kNew);
  EXPECT_EQ(files.Journals(), 0);
  EXPECT_EQ(files.overwrites, 0);
}

// A journal that is not this file's, is damaged, or that the file no longer matches (it changed
// since in a way no rewrite explains) is left alone, and so is the file.
TEST(JournalPolicy, JournalsThatAreNotOursAreLeftAlone) {
  const std::string whole = JournalOf(kFile.path, kFile.file, kOld, kNew);
  struct Case {
    const char* what;
    std::string journal;
    std::string data;
  } cases[] = {
      {"another file's path", JournalOf("/elsewhere/Targets.DAT", kFile.file, kOld, kNew), kOld},
      {"another file's identity", JournalOf(kFile.path, kFile.file + 1, kOld, kNew), kOld},
      {"cut short", whole.substr(0, whole.size() - 1), kOld},
      {"a byte changed", whole.substr(0, whole.size() - 1) + "Z", kOld},
      {"the file changed since", whole, "NEW-TABLE-abcdefghijklmnopqrstuvwxyZ"},
      {"the file is of another length", whole, kOld + "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryFiles files;
    files.data = c.data;
    files.journals[0][kName] = c.journal;
    RecoverFromJournal(files, kFile);
    EXPECT_EQ(files.data, c.data);
    EXPECT_EQ(files.Journals(), 1);
    EXPECT_EQ(files.overwrites, 0);
  }
}

TEST(JournalPolicy, AFailedRewriteGoesBackAndSaysWhy) {
  MemoryFiles files;
  files.fail_overwrite = 1;
  EXPECT_EQ(RewriteUnderJournal(files, kFile, kNew), PlainIoError(28));
  EXPECT_EQ(files.data, kOld);
  EXPECT_EQ(files.Journals(), 0);
  // When even the way back fails, the journal stays for the next run.
  MemoryFiles stuck;
  stuck.fail_every_overwrite = true;
  EXPECT_EQ(RewriteUnderJournal(stuck, kFile, kNew), PlainIoError(28));
  EXPECT_EQ(stuck.Journals(), 1);
}

// The journal goes to the first folder that takes it; a run looks in all of them.
TEST(JournalPolicy, TheJournalGoesWhereItCanBeWritten) {
  MemoryFiles files(2);
  files.write_errors[0] = PlainIoError(13);
  files.stop_after_journal = true;
  EXPECT_THROW(RewriteUnderJournal(files, kFile, kNew), Stopped);
  EXPECT_EQ(files.journals[1].size(), 1u);
  files.stop_after_journal = false;
  files.data = "NEW-TABLE-abcdefghijklmnopqrstuvwxyz";
  RecoverFromJournal(files, kFile);
  EXPECT_EQ(files.Journals(), 0);

  // Where no folder takes it, the file is not touched, and the first folder's error is told.
  MemoryFiles nowhere(2);
  nowhere.write_errors = {PlainIoError(13), PlainIoError(30)};
  EXPECT_EQ(RewriteUnderJournal(nowhere, kFile, kNew), PlainIoError(13));
  EXPECT_EQ(nowhere.data, kOld);
  EXPECT_EQ(nowhere.overwrites, 0);
}

}  // namespace
