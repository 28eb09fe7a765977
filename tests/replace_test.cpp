// The replacement's policy over a file layer held in memory: the order of its steps, what a
// failure at each step leaves, a name that leads elsewhere, the in-place rewrite where the folder
// refuses new files, and what another program appends before and after the rename.
#include "platform/replace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/Errors.h"

namespace {

const std::string kOld = "[A]\r\na=1\r\n";
const std::string kNew = "[A]\r\na=2\r\n";

class MemoryFiles : public ReplaceFiles, public JournalFiles {
 public:
  // ---- the replacement's primitives ----
  int MakeTemporary() override {
    return Step("make", make_error, [&] { temp = ""; });
  }
  int WriteTemporary(std::string_view bytes) override {
    return Step("write", write_error, [&] { temp += bytes; });
  }
  int GiveAttributes() override {
    return Step("attributes", 0, [] {});
  }
  int FlushTemporary() override {
    return Step("flush", flush_error, [] {});
  }
  FileNow Compare() override {
    log.push_back("compare");
    if (before_compare) before_compare();
    if (name_leads_elsewhere) return FileNow::kOther;
    return old_file.size() > read_size ? FileNow::kAppended : FileNow::kAsRead;
  }
  std::uint64_t SizeRead() const override { return read_size; }
  bool ReadOldFrom(std::uint64_t offset, std::string* bytes) override {
    *bytes = offset < old_file.size() ? old_file.substr(offset) : "";
    return true;
  }
  int RenameOver() override {
    return Step("rename", rename_error, [&] {
      named = temp;
      renamed = true;
    });
  }
  void FlushFolder() override { log.push_back("flush folder"); }
  bool KeepsAppends() const override { return keeps_appends; }
  int AppendToNew(std::string_view bytes) override {
    named += bytes;
    return 0;
  }
  Holders OldFileHolders() override {
    ++looks;
    return holders.empty() ? Holders::kNone : holders[std::min(looks, holders.size()) - 1];
  }
  void Pause() override {
    if (during_pause) during_pause();
  }
  JournalFiles& InPlace() override { return *this; }
  JournaledFile Journaled() const override { return {"/f/x.ini", "x.ini", 1, 2}; }

  // ---- the journal's primitives, over the old file itself ----
  int ReadData(std::string* bytes) override {
    *bytes = named;
    return 0;
  }
  int OverwriteData(const std::string& bytes) override {
    log.push_back("overwrite");
    named = bytes;
    return 0;
  }
  int JournalPlaces() const override { return 1; }
  bool ReadJournal(int, const std::string&, std::string*) override { return false; }
  int WriteJournal(int, const std::string&, const std::string&) override {
    log.push_back("journal");
    return 0;
  }
  void RemoveJournal(int, const std::string&) override { log.push_back("remove journal"); }

  std::string named = kOld;     // what the name leads to
  std::string old_file = kOld;  // the old file, which another program may append to
  std::uint64_t read_size = kOld.size();
  std::string temp;
  bool renamed = false;
  bool keeps_appends = false;
  bool name_leads_elsewhere = false;
  int make_error = 0, write_error = 0, flush_error = 0, rename_error = 0;
  std::vector<Holders> holders;  // what each look at the old file's holders finds (the last stays)
  std::size_t looks = 0;
  std::function<void()> before_compare, during_pause;
  std::vector<std::string> log;

 private:
  int Step(const char* what, int error, const std::function<void()>& done) {
    log.push_back(what);
    if (error == 0) done();
    return error;
  }
};

// The new contents are made whole beside the file, and take its name only then.
TEST(ReplacePolicy, ANewFileIsMadeWholeBeforeItTakesTheName) {
  MemoryFiles files;
  EXPECT_EQ(ReplaceWhole(files, kNew), 0);
  EXPECT_EQ(files.named, kNew);
  EXPECT_EQ(files.log, (std::vector<std::string>{"compare", "make", "write", "attributes", "flush",
                                                 "compare", "rename", "flush folder"}));
}

// A failure at any step leaves the old file, and says why; a name that leads elsewhere, before or
// right before the rename, is never replaced.
TEST(ReplacePolicy, AFailureAtAnyStepLeavesTheOldFile) {
  struct Case {
    const char* what;
    std::function<void(MemoryFiles*)> fault;
    int code;
  } cases[] = {
      {"no temporary file", [](MemoryFiles* f) { f->make_error = PlainIoError(28); },
       PlainIoError(28)},
      {"a full disk", [](MemoryFiles* f) { f->write_error = PlainIoError(28); }, PlainIoError(28)},
      {"a flush that fails", [](MemoryFiles* f) { f->flush_error = PlainIoError(5); },
       PlainIoError(5)},
      {"a rename refused", [](MemoryFiles* f) { f->rename_error = kAccessDenied; }, kAccessDenied},
      {"another file took the name", [](MemoryFiles* f) { f->name_leads_elsewhere = true; },
       kFileChanged},
      {"another file took the name while the new one was made",
       [](MemoryFiles* f) {
         f->before_compare = [f] { f->name_leads_elsewhere = f->log.size() > 1; };
       },
       kFileChanged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryFiles files;
    c.fault(&files);
    EXPECT_EQ(ReplaceWhole(files, kNew), c.code);
    EXPECT_EQ(files.named, kOld);
    EXPECT_FALSE(files.renamed);
  }
}

// Where the folder refuses new files, or their rename, the file is rewritten in place, under a
// journal, with what was appended to it meanwhile.
TEST(ReplacePolicy, AFolderThatRefusesNewFilesGetsAJournaledRewrite) {
  MemoryFiles files;
  files.make_error = kFolderRefuses;
  files.keeps_appends = true;
  files.old_file = files.named = kOld + "[B]\r\nb=1\r\n";
  EXPECT_EQ(ReplaceWhole(files, kNew), 0);
  EXPECT_EQ(files.named, kNew + "[B]\r\nb=1\r\n");
  EXPECT_EQ(files.log, (std::vector<std::string>{"compare", "make", "compare", "journal",
                                                 "overwrite", "remove journal"}));

  MemoryFiles renamed;
  renamed.rename_error = kFolderRefuses;
  EXPECT_EQ(ReplaceWhole(renamed, kNew), 0);
  EXPECT_EQ(renamed.named, kNew);
  EXPECT_FALSE(renamed.renamed);
}

// What another program appends goes on at the new file's end: before the rename, its whole lines;
// after it, until nobody has the old file open, also the rest of a write that was seen in part.
TEST(ReplacePolicy, AnotherProgramsAppendsAreKept) {
  MemoryFiles files;
  files.keeps_appends = true;
  files.old_file = kOld + "[B]\r\nb=1\r\n[C]\r\nc";
  files.holders = {Holders::kSome, Holders::kSome, Holders::kNone};
  files.during_pause = [&] { files.old_file = kOld + "[B]\r\nb=1\r\n[C]\r\nc=1\r\n[D]\r\n"; };
  EXPECT_EQ(ReplaceWhole(files, kNew), 0);
  EXPECT_EQ(files.temp.substr(kNew.size()), "[B]\r\nb=1\r\n[C]\r\n");
  EXPECT_EQ(files.named, kNew + "[B]\r\nb=1\r\n[C]\r\nc=1\r\n[D]\r\n");
  EXPECT_EQ(files.looks, 3u);

  // Where nobody can tell who has the old file open, it is watched until it stayed as it was.
  MemoryFiles unknown;
  unknown.keeps_appends = true;
  unknown.holders = {Holders::kUnknown};
  int pauses = 0;
  unknown.during_pause = [&] {
    if (++pauses == 2) unknown.old_file += "[Late]\r\n";
  };
  EXPECT_EQ(ReplaceWhole(unknown, kNew), 0);
  EXPECT_EQ(unknown.named, kNew + "[Late]\r\n");
  EXPECT_GT(pauses, 2);

  // The data file keeps nothing of the kind: it is watched not at all.
  MemoryFiles data;
  data.holders = {Holders::kSome};
  EXPECT_EQ(ReplaceWhole(data, kNew), 0);
  EXPECT_EQ(data.looks, 0u);
}

}  // namespace
