// The copies' policy over folders held in memory: how a copy is named, which copies stay, and
// where a copy goes when a folder refuses it.
#include "platform/backups.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/Errors.h"

namespace {

class MemoryFolders : public BackupFiles {
 public:
  int Places() const override { return 2; }
  int OpenFolder(int place) override { return open_errors[open = place]; }
  std::vector<std::string> List() override {
    std::vector<std::string> names;
    for (const auto& file : folders[open]) names.push_back(file.first);
    return names;
  }
  int WriteNew(const std::string& name, std::string_view bytes) override {
    if (write_errors[open] != 0) return write_errors[open];
    // Another run takes the first name between the look and the write.
    if (taken_first && folders[open].empty()) folders[open][name] = "theirs";
    return folders[open].emplace(name, bytes).second ? 0 : kFileChanged;
  }
  void Remove(const std::string& name) override { folders[open].erase(name); }

  std::map<std::string, std::string> folders[2];
  int open_errors[2] = {0, 0};
  int write_errors[2] = {0, 0};
  int open = -1;
  bool taken_first = false;
};

// A copy comes after every copy of its second; names of another form are no copies.
TEST(CopiesPolicy, ACopyIsNamedAfterTheCopiesOfItsSecond) {
  struct Case {
    std::vector<std::string> present;
    std::string name;
  } cases[] = {
      {{}, "Targets-20261209-101500.DAT"},
      {{"Targets-20261209-101500.DAT", "Targets-20261209-101500-9.DAT"},
       "Targets-20261209-101500-10.DAT"},
      {{"Targets-20261209-101459-4.DAT", "Targets-20261209-101500-02.DAT",
        "Targets-20261209-101500-1.DAT", "targets-20261209-101500-5.dat"},
       "Targets-20261209-101500.DAT"},
  };
  for (const Case& c : cases) {
    MemoryFolders files;
    for (const std::string& name : c.present) files.folders[0][name] = "x";
    EXPECT_EQ(KeepCopy(files, "20261209-101500", "old"), 0);
    EXPECT_EQ(files.folders[0][c.name], "old") << c.name;
  }
  MemoryFolders files;
  files.taken_first = true;
  EXPECT_EQ(KeepCopy(files, "20261209-101500", "old"), 0);
  EXPECT_EQ(files.folders[0]["Targets-20261209-101500-2.DAT"], "old");
}

// The newest 20 stay, by the time in the name and then the number in that second (not by the
// names' order, where "-10" comes before "-2" and both before the first copy); other files stay.
TEST(CopiesPolicy, TheNewestTwentyStay) {
  MemoryFolders files;
  std::set<std::string> kept = {"Targets-20261209-101500.DAT", "notes.txt", "Targets-2000.DAT",
                                "Targets-20261209-101500-2.DAT"};
  for (int n = 2; n <= 10; ++n)
    kept.insert("Targets-20261209-090000-" + std::to_string(n) + ".DAT");
  for (int minute = 10; minute < 19; ++minute) {
    kept.insert("Targets-20261209-09" + std::to_string(minute) + "00.DAT");
  }
  for (const std::string& name : kept) files.folders[0][name] = "x";
  files.folders[0].erase("Targets-20261209-101500-2.DAT");
  files.folders[0]["Targets-20261209-090000.DAT"] = "oldest";
  EXPECT_EQ(KeepCopy(files, "20261209-101500", "new"), 0);
  std::set<std::string> names;
  for (const auto& file : files.folders[0]) names.insert(file.first);
  EXPECT_EQ(names, kept);
  // A clock set back: the copy just made stays, the oldest before it goes.
  EXPECT_EQ(KeepCopy(files, "20000101-000000", "new"), 0);
  EXPECT_EQ(files.folders[0].count("Targets-20000101-000000.DAT"), 1u);
  EXPECT_EQ(files.folders[0].count("Targets-20261209-090000-2.DAT"), 0u);
  EXPECT_EQ(files.folders[0].size(), kept.size());
}

// A folder that cannot be made or written passes the copy to the next; where none takes it, the
// first folder's error is told and nothing is written.
TEST(CopiesPolicy, ACopyGoesToTheFirstFolderThatTakesIt) {
  struct Case {
    int open_errors[2];
    int write_errors[2];
    int code;
  } cases[] = {
      {{PlainIoError(13), 0}, {0, 0}, 0},
      {{0, 0}, {PlainIoError(28), 0}, 0},
      {{PlainIoError(13), PlainIoError(30)}, {0, 0}, PlainIoError(13)},
  };
  for (const Case& c : cases) {
    MemoryFolders files;
    std::copy(c.open_errors, c.open_errors + 2, files.open_errors);
    std::copy(c.write_errors, c.write_errors + 2, files.write_errors);
    EXPECT_EQ(KeepCopy(files, "20261209-101500", "old"), c.code);
    EXPECT_TRUE(files.folders[0].empty());
    EXPECT_EQ(files.folders[1].size(), c.code == 0 ? 1u : 0u);
  }
}

}  // namespace
