#include "platform/profile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <system_error>

#include "tests/FaultyIo.h"
#include "tests/Processes.h"

namespace fs = std::filesystem;

namespace {

class IniItemsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    dir_ = fs::temp_directory_path() / ("ini_engine_test_" + std::to_string(seed()));
    fs::create_directories(dir_);
    file_ = (dir_ / "test.ini").string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void Put(const std::string& bytes) { Put(file_, bytes); }
  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string Get() const { return Get(file_); }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The value read, or "<absent>" (a read that keeps the caller's value).
  std::string Read(const std::string& section, const std::string& key) const {
    std::string value = "<absent>";
    bool found = engine_->Read(file_, section, key, &value);
    EXPECT_EQ(found, value != "<absent>") << section << "/" << key;
    return value;
  }
  bool Write(const std::string& section, const std::string& key, const std::string& value) {
    return engine_->Write(file_, section, key, value);
  }
  // Moves the file's modification time an hour back, so that any later write shows.
  void AgeFile() const {
    fs::last_write_time(file_, fs::last_write_time(file_) - std::chrono::hours(1));
  }

  // A fresh engine: the next call reads the file afresh.
  void ForgetCache() { engine_ = std::make_unique<IniItems>(); }

  fs::path dir_;
  std::string file_;
  std::unique_ptr<IniItems> engine_ = std::make_unique<IniItems>();
};

// ---- Parsing and reading ----

TEST_F(IniItemsTest, NamesMatchWithoutLetterCaseAndAroundBlanks) {
  Put("[MySection]\r\nMyKey=1\r\n[\xC4]\r\n\xE4=2\r\n");
  EXPECT_EQ(Read("mysection", "MYKEY"), "1");
  EXPECT_EQ(Read("  MYSECTION\t", " mykey "), "1");
  // Only ASCII letters fold.
  EXPECT_EQ(Read("\xE4", "\xE4"), "<absent>");
  EXPECT_EQ(Read("\xC4", "\xE4"), "2");
}

TEST_F(IniItemsTest, ValuesAreTrimmedAndLoseOneQuotePair) {
  Put("[S]\r\n"
      "blanks= \t value \x1A\v\f\r\n"
      "padded=\"  padded \"\r\n"
      "single='x'\r\n"
      "mixed=\"mixed'\r\n"
      "lone=\"\r\n"
      "empty=\"\"\r\n"
      "nested=\"\"a\"\"\r\n"
      "nothing=\r\n");
  EXPECT_EQ(Read("S", "blanks"), "value");
  EXPECT_EQ(Read("S", "padded"), "  padded ");
  EXPECT_EQ(Read("S", "single"), "x");
  EXPECT_EQ(Read("S", "mixed"), "\"mixed'");
  EXPECT_EQ(Read("S", "lone"), "\"");
  EXPECT_EQ(Read("S", "empty"), "");
  EXPECT_EQ(Read("S", "nested"), "\"a\"");
  EXPECT_EQ(Read("S", "nothing"), "");
}

TEST_F(IniItemsTest, LinesSplitIntoSectionsAndKeys) {
  Put("top=0\n"
      "  [ Sec ]x\n"
      "a=b=c\n"
      ";x=1\n"
      "[Open=2\n"
      "noequals\n"
      " spaced key  =  v \n"
      "[a]b]\n"
      "k=3\n");
  EXPECT_EQ(Read("", "top"), "0");
  EXPECT_EQ(Read("Sec", "a"), "b=c");
  EXPECT_EQ(Read("Sec", ";x"), "1");
  EXPECT_EQ(Read("Sec", "[Open"), "2");
  EXPECT_EQ(Read("Sec", "noequals"), "<absent>");
  EXPECT_EQ(Read("Sec", "spaced key"), "v");
  EXPECT_EQ(Read("a]b", "k"), "3");
  EXPECT_EQ(Read("Sec", "top"), "<absent>");
}

TEST_F(IniItemsTest, AnyRunOfLineEndsEndsALine) {
  Put("[A]\ra=1\r\r\n\n[B]\n\rb=2\n\r\nc=3");
  EXPECT_EQ(Read("A", "a"), "1");
  EXPECT_EQ(Read("B", "b"), "2");
  EXPECT_EQ(Read("B", "c"), "3");
}

TEST_F(IniItemsTest, FirstSectionAndFirstKeyWin) {
  Put("[S]\r\nk=first\r\nk=second\r\nK=third\r\n[T]\r\n[s]\r\nk=other\r\nonly=later\r\n");
  EXPECT_EQ(Read("S", "k"), "first");
  EXPECT_EQ(Read("S", "only"), "<absent>");
}

TEST_F(IniItemsTest, AbsentItemsKeepTheCallersValue) {
  EXPECT_EQ(Read("S", "k"), "<absent>");  // no file
  Put("[S]\r\nk=1\r\n");
  EXPECT_EQ(Read("T", "k"), "<absent>");
  EXPECT_EQ(Read("S", "j"), "<absent>");
  EXPECT_EQ(Read("", "k"), "<absent>");
  std::string kept = "  \"quoted\"  ";
  EXPECT_FALSE(engine_->Read(file_, "S", "j", &kept));
  EXPECT_EQ(kept, "  \"quoted\"  ");
  EXPECT_FALSE(engine_->Read(dir_.string(), "S", "k", &kept));
  EXPECT_FALSE(engine_->Read((dir_ / "no" / "x.ini").string(), "S", "k", &kept));
  EXPECT_EQ(kept, "  \"quoted\"  ");
}

TEST_F(IniItemsTest, ValuesStopAtNulAndAt2047Characters) {
  std::string long_value(3000, 'v');
  long_value[2046] = 'L';
  long_value[2047] = 'X';
  Put("[S]\r\nnul=ab" + std::string(1, '\0') + "cd\r\nlong=" + long_value + "\r\nquoted=\"" +
      long_value + "\"\r\n");
  EXPECT_EQ(Read("S", "nul"), "ab");
  std::string got = Read("S", "long");
  EXPECT_EQ(got.size(), 2047u);
  EXPECT_EQ(got.back(), 'L');
  EXPECT_EQ(Read("S", "quoted"), got);
  // The quote pair goes after the copy of at most 2047 characters, as measured under Wine: an
  // inside of 2047 characters comes back with 2046.
  const int edges[][2] = {{2045, 2045}, {2046, 2046}, {2047, 2046}, {2048, 2047}};
  for (const auto& [inside, back] : edges) {
    Put("[S]\r\nq='" + std::string(inside, 'q') + "'\r\n");
    EXPECT_EQ(Read("S", "q"), std::string(back, 'q')) << inside;
  }
}

TEST_F(IniItemsTest, Utf8ByteOrderMarkIsSkippedAndKept) {
  Put("\xEF\xBB\xBF[S]\nk=1\n");
  EXPECT_EQ(Read("S", "k"), "1");
  ASSERT_TRUE(Write("S", "k", "22"));
  ASSERT_TRUE(Write("T", "n", "3"));
  EXPECT_EQ(Get(), "\xEF\xBB\xBF[S]\nk=22\n[T]\nn=3\n");

  Put("\xEF\xBB\xBF");
  ASSERT_TRUE(Write("S", "k", "1"));
  EXPECT_EQ(Get(), "\xEF\xBB\xBF[S]\r\nk=1\r\n");

  // A key whose name starts with those bytes, written at the start of a file, must not turn
  // into a byte-order mark.
  Put("[S]\nk=1\n");
  ASSERT_TRUE(Write("", "\xEF\xBB\xBFkey", "v"));
  ForgetCache();
  EXPECT_EQ(Read("", "\xEF\xBB\xBFkey"), "v");
  EXPECT_EQ(Read("S", "k"), "1");
}

// Where an item stands, for the messages of an import: lines end at CR, LF or CR LF, and a key
// line without '=' is found.
TEST_F(IniItemsTest, WhereGivesTheLinesOfSectionAndKey) {
  Put("top=0\n[A]\r\na=1\n\n[B]\rb=2\r\n\r\nc\n\r[b]\nd=4\n");
  struct Case {
    const char* section;
    const char* key;
    std::size_t section_line;  // 0: not found
    std::size_t key_line;
  } cases[] = {{"a", "A", 2, 3}, {"B", "b", 5, 6}, {"b", "C", 5, 8},
               {"B", "d", 5, 0}, {"Z", "a", 0, 0}, {"", "top", 1, 1}};
  for (const Case& c : cases) {
    const IniItems::Place place = engine_->Where(file_, c.section, c.key);
    EXPECT_EQ(place.section_found ? place.section_line : 0, c.section_line) << c.section << c.key;
    EXPECT_EQ(place.key_found ? place.key_line : 0, c.key_line) << c.section << c.key;
  }
  EXPECT_EQ(engine_->SectionNames(file_), (std::vector<std::string>{"A", "B", "b"}));
  EXPECT_FALSE(engine_->Where((dir_ / "none.ini").string(), "A", "a").section_found);
}

// An editor's UTF-8 without a byte-order mark, when the engine is asked to read it: its names and
// values come in the code page, and writes keep it UTF-8. A write whose bytes would make an ANSI
// file read so writes the whole file in UTF-8 instead, so that it reads back as written; ANSI
// that is no UTF-8 stays as it is.
TEST_F(IniItemsTest, MarklessUtf8ReadsAndStaysAsWritten) {
  auto fresh = [this] {
    engine_ = std::make_unique<IniItems>(1252);
    engine_->SetMarklessUtf8(true);
  };
  fresh();
  const std::string cafe = "[Caf\xC3\xA9]\r\nk=M\xC3\xBC\r\n";
  Put(cafe);
  EXPECT_EQ(Read("Caf\xE9", "k"), "M\xFC");
  EXPECT_EQ(engine_->SectionNames(file_), std::vector<std::string>{"Caf\xE9"});
  std::string value;
  EXPECT_TRUE(IniItems(1252).Read(file_, "Caf\xC3\xA9", "k", &value));  // not asked: bytes
  EXPECT_EQ(value, "M\xC3\xBC");
  ASSERT_TRUE(Write("Caf\xE9", "n", "\xE9"));
  EXPECT_EQ(Get(), cafe + "n=\xC3\xA9\r\n");

  Put("; \xE9t\xE9\r\n[S]\r\n");
  ASSERT_TRUE(Write("S", "k", "\xC3\xA9"));
  EXPECT_EQ(Get(), "; \xE9t\xE9\r\n[S]\r\nk=\xC3\xA9\r\n");

  Put("[S]\r\nk=v\r\n");
  ASSERT_TRUE(Write("S", "k", "\xC3\xA9"));
  EXPECT_EQ(Get(), "[S]\r\nk=\xC3\x83\xC2\xA9\r\n");
  fresh();
  EXPECT_EQ(Read("S", "k"), "\xC3\xA9");
}

// ---- Writing ----

// A value given to a key line without '=' continues that line: the rest of it is no line of its
// own (no empty key appears), and a line that a value makes a section line ("[k" given "v]") is a
// section from then on, as the profile functions read it.
TEST_F(IniItemsTest, AValueChangesItsLineAndNothingElse) {
  Put("[");
  ASSERT_TRUE(Write("", "[", "w"));
  EXPECT_EQ(Get(), "[=w");
  EXPECT_EQ(Read("", ""), "<absent>");
  ASSERT_TRUE(Write("", "\x1a", "v"));
  EXPECT_EQ(Get(), "[=w\r\n=v\r\n");
  EXPECT_EQ(Read("", "["), "w");
  EXPECT_EQ(Read("", ""), "v");

  Put("[k=ab\r\n");
  ASSERT_TRUE(Write("", "[k", "v]"));
  EXPECT_EQ(Read("", "[k"), "<absent>");
  ASSERT_TRUE(Write("k=v", "x", "1"));
  EXPECT_EQ(Get(), "[k=v]\r\nx=1\r\n");
}

TEST_F(IniItemsTest, FirstWriteCreatesACrLfFile) {
  ASSERT_TRUE(Write(" Sec ", " Key ", "  value  "));
  ASSERT_TRUE(Write("Sec", "Second", "2"));
  ASSERT_TRUE(Write("Other", "k", ""));
  EXPECT_EQ(Get(), "[Sec]\r\nKey=value  \r\nSecond=2\r\n[Other]\r\nk=\r\n");
  EXPECT_EQ(Read("Sec", "Key"), "value");
}

TEST_F(IniItemsTest, ReplacingAValueKeepsEverythingElse) {
  const std::string before =
      "; comment\r\n"
      "[S]\r\n"
      "  MyKey  =  old value  \r\n"
      "other = 1\r\n"
      "\r\n"
      "[T]\r\n"
      "x=y\r\n";
  Put(before);
  ASSERT_TRUE(Write("s", "mykey", "new"));
  EXPECT_EQ(Get(), "; comment\r\n[S]\r\n  MyKey  =new\r\nother = 1\r\n\r\n[T]\r\nx=y\r\n");
  ASSERT_TRUE(Write("S", "MYKEY", "a much longer value than before"));
  ASSERT_TRUE(Write("T", "x", "z"));
  EXPECT_EQ(Get(),
            "; comment\r\n[S]\r\n  MyKey  =a much longer value than before\r\nother = 1\r\n"
            "\r\n[T]\r\nx=z\r\n");
  EXPECT_EQ(Read("S", "other"), "1");

  Put("[S]\nflag  \nnext=1\n");
  ASSERT_TRUE(Write("S", "flag", "on"));
  EXPECT_EQ(Get(), "[S]\nflag=on\nnext=1\n");
}

TEST_F(IniItemsTest, NewKeyGoesBehindTheLastEntryOfItsSection) {
  Put("[A]\r\na=1\r\n; note\r\n\r\n[B]\r\nb=2\r\n\r\n\r\n");
  ASSERT_TRUE(Write("a", "new", "x"));
  ASSERT_TRUE(Write("B", "new", "y"));
  EXPECT_EQ(Get(), "[A]\r\na=1\r\n; note\r\nnew=x\r\n\r\n[B]\r\nb=2\r\nnew=y\r\n\r\n\r\n");

  Put("[Empty]\n\n[Full]\nk=1\n");
  ASSERT_TRUE(Write("Empty", "k", "v"));
  EXPECT_EQ(Get(), "[Empty]\nk=v\n\n[Full]\nk=1\n");

  Put("lead=1\n[S]\n");
  ASSERT_TRUE(Write("", "top", "2"));
  EXPECT_EQ(Get(), "lead=1\ntop=2\n[S]\n");
}

TEST_F(IniItemsTest, WritesGoToTheFirstOfDuplicateSectionsAndKeys) {
  Put("[S]\nk=1\nk=2\n[S]\nj=3\n");
  ASSERT_TRUE(Write("S", "k", "9"));
  ASSERT_TRUE(Write("S", "j", "8"));
  EXPECT_EQ(Get(), "[S]\nk=9\nk=2\nj=8\n[S]\nj=3\n");
  EXPECT_EQ(Read("S", "j"), "8");
}

TEST_F(IniItemsTest, AddedLinesFollowTheFilesLineEnds) {
  Put("[S]\nk=1\n");
  ASSERT_TRUE(Write("S", "j", "2"));
  ASSERT_TRUE(Write("T", "i", "3"));
  EXPECT_EQ(Get(), "[S]\nk=1\nj=2\n[T]\ni=3\n");

  Put("[S]\rk=1\r");
  ASSERT_TRUE(Write("S", "j", "2"));
  ASSERT_TRUE(Write("T", "i", "3"));
  EXPECT_EQ(Get(), "[S]\rk=1\rj=2\r[T]\ri=3\r");
}

TEST_F(IniItemsTest, FileWithoutFinalLineEndGetsOneBeforeAddedLines) {
  Put("[S]\nk=1");
  ASSERT_TRUE(Write("S", "j", "2"));
  EXPECT_EQ(Get(), "[S]\nk=1\nj=2\n");
  Put("[S]\nk=1  ");
  ASSERT_TRUE(Write("T", "i", "3"));
  EXPECT_EQ(Get(), "[S]\nk=1  \n[T]\ni=3\n");
  Put("[S]\nk=1");
  ASSERT_TRUE(Write("S", "k", "22"));
  EXPECT_EQ(Get(), "[S]\nk=22");
}

TEST_F(IniItemsTest, WritingTheStoredValueLeavesTheFileAlone) {
  const std::string before = "[S]\r\nk =  same  \r\nq=\"x\"\r\n";
  Put(before);
  AgeFile();
  auto stamp = fs::last_write_time(file_);
  EXPECT_TRUE(Write("S", "K", "same"));
  EXPECT_TRUE(Write("S", "k", "   same"));
  EXPECT_TRUE(Write("S", "q", "\"x\""));
  EXPECT_EQ(fs::last_write_time(file_), stamp);
  EXPECT_EQ(Get(), before);
  // The stored text is compared, not what a read gives.
  EXPECT_TRUE(Write("S", "q", "x"));
  EXPECT_EQ(Get(), "[S]\r\nk =  same  \r\nq=x\r\n");
}

TEST_F(IniItemsTest, UnwritableFilesFail) {
  EXPECT_FALSE(engine_->Write((dir_ / "missing" / "x.ini").string(), "S", "k", "v"));
  EXPECT_FALSE(engine_->Write(dir_.string(), "S", "k", "v"));
  EXPECT_FALSE(fs::exists(dir_ / "missing"));

  Put("[S]\nk=1\n[T]\n");
  fs::permissions(file_, fs::perms::owner_read | fs::perms::group_read);
  if (std::ofstream(file_, std::ios::app)) GTEST_SKIP() << "permissions are not enforced here";
  EXPECT_FALSE(Write("S", "k", "2"));  // would replace the file
  EXPECT_FALSE(Write("T", "j", "2"));  // would append
  EXPECT_TRUE(Write("S", "k", "1"));   // nothing to write
  EXPECT_EQ(Get(), "[S]\nk=1\n[T]\n");
}

TEST_F(IniItemsTest, ReplacingKeepsLinksAndPermissions) {
  Put("[S]\nk=1\n[T]\n");
  const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(file_, mode);
  std::string link = (dir_ / "link.ini").string();
  std::error_code error;
  fs::create_symlink(file_, link, error);
  if (error) GTEST_SKIP() << "no symbolic links here";
  ASSERT_TRUE(engine_->Write(link, "S", "k", "changed"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Get(), "[S]\nk=changed\n[T]\n");
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::mask, mode);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

// ---- Freshness: the in-process copy never hides a change on disk ----

TEST_F(IniItemsTest, OutsideEditsAreSeen) {
  Put("[S]\r\nk=1\r\n");
  EXPECT_EQ(Read("S", "k"), "1");
  Put("[S]\r\nk=22\r\n");
  EXPECT_EQ(Read("S", "k"), "22");

  // Same size, only the time differs.
  Put("[S]\r\nk=33\r\n");
  AgeFile();
  EXPECT_EQ(Read("S", "k"), "33");

  // A new file under the name, and no file at all.
  std::string other = (dir_ / "other.ini").string();
  Put(other, "[S]\r\nk=44\r\n");
  fs::rename(other, file_);
  EXPECT_EQ(Read("S", "k"), "44");
  fs::remove(file_);
  EXPECT_EQ(Read("S", "k"), "<absent>");
}

TEST_F(IniItemsTest, WritesNeverPutBackAStaleCopy) {
  ASSERT_TRUE(Write("S", "k", "1"));
  Put(Get() + "[Outside]\r\no=1\r\n");
  ASSERT_TRUE(Write("S", "j", "2"));
  EXPECT_EQ(Get(), "[S]\r\nk=1\r\nj=2\r\n[Outside]\r\no=1\r\n");

  // An outside edit that restores the value this process wrote last must still be seen.
  ASSERT_TRUE(Write("S", "k", "3"));
  Put("[S]\r\nk=1\r\n");
  AgeFile();
  ASSERT_TRUE(Write("S", "k", "3"));
  EXPECT_EQ(Get(), "[S]\r\nk=3\r\n");

  fs::remove(file_);
  ASSERT_TRUE(Write("S", "k", "3"));
  EXPECT_EQ(Get(), "[S]\r\nk=3\r\n");
}

TEST_F(IniItemsTest, ChangedFileNameUsesTheOtherFile) {
  std::string other = (dir_ / "other.ini").string();
  Put(other, "[S]\nk=other\n");
  ASSERT_TRUE(Write("S", "k", "mine"));
  std::string value;
  ASSERT_TRUE(engine_->Read(other, "S", "k", &value));
  EXPECT_EQ(value, "other");
  EXPECT_EQ(Read("S", "k"), "mine");
}

// Random writes through the in-process index must leave the file as a fresh parse sees it.
TEST_F(IniItemsTest, IndexAfterManyWritesMatchesAFreshRead) {
  Put("pre=0\n[S0]\nk0=x\n\n[S1]\n");
  std::mt19937 random(7);
  const char* const values[] = {"", "a", "bb", " lead", "trail ", "\"q\"", "longer value"};
  for (int i = 0; i < 400; ++i) {
    std::string section = "s" + std::to_string(random() % 6);
    // A key holding '=' stores under the part before it.
    std::string key = random() % 8 == 0 ? "k1=e" : "K" + std::to_string(random() % 5);
    ASSERT_TRUE(Write(section, key, values[random() % 7]));
  }
  std::string seen[2];
  for (std::string& all : seen) {
    for (int s = 0; s < 7; ++s) {
      for (int k = 0; k < 6; ++k)
        all += Read("S" + std::to_string(s), "k" + std::to_string(k)) + "|";
    }
    ForgetCache();
  }
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(Read("", "pre"), "0");
  // Each section was added once, whatever the letter case of the writes.
  std::string text = Get();
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (int s = 0; s < 6; ++s) {
    std::string header = "[s" + std::to_string(s) + "]";
    EXPECT_EQ(text.find(header), text.rfind(header)) << header;
  }
}

// ---- Other writers of the same file ----

// Another program appends a section at the exact moment between this engine's look at the file
// and its append; then once more in the moment before the rename that puts the engine's line in
// its place. Nothing of either is lost, and every item the engine wrote reads back.
TEST_F(IniItemsTest, AnAppendOfAnotherProgramIsNeverLostOrMixedIn) {
  ASSERT_TRUE(Write("Entry0", "a", "1"));
  int appended = 0;
  auto other_program_appends = [&] {
    std::string section = "[Other" + std::to_string(appended++) + "]\r\nx=y\r\n";
    int fd = open(file_.c_str(), O_WRONLY | O_APPEND);
    ASSERT_EQ(write(fd, section.data(), section.size()), static_cast<ssize_t>(section.size()));
    close(fd);
  };
  FaultyIo io;
  io.Before(FaultyIo::kWrite, "test.ini", 1, other_program_appends);
  io.Before(FaultyIo::kRename, "test.ini", 1, other_program_appends);
  {
    ScopedIo scoped(&io);
    ASSERT_TRUE(Write("Entry0", "b", "2"));
    ASSERT_TRUE(Write("Entry1", "c", "3"));
  }
  EXPECT_EQ(appended, 2);
  EXPECT_EQ(Get(),
            "[Entry0]\r\na=1\r\nb=2\r\n[Other0]\r\nx=y\r\n[Other1]\r\nx=y\r\n"
            "[Entry1]\r\nc=3\r\n");
  // The engine's copy did not take the other program's change for its own.
  EXPECT_EQ(Read("Other1", "x"), "y");
  EXPECT_EQ(Read("Entry0", "b"), "2");
}

// A write holds the file locked from its look at the file to the end of its change: another
// run of the tool that wants to write meanwhile waits, and then sees the change.
TEST_F(IniItemsTest, WritersOfOneFileTakeTurns) {
  ASSERT_TRUE(Write("S", "k", "1"));
  FaultyIo io;
  pid_t other = -1;
  io.Before(FaultyIo::kWrite, "test.ini", 1, [&] {
    // Another run of the tool starts its own write now, and must wait for this one.
    other = fork();
    if (other == 0) {
      // Another process, with nothing of this one's open files.
      for (int fd = 3; fd < 1024; ++fd) close(fd);
      IniItems engine;
      _exit(engine.Write(file_, "S", "j", "2") ? 0 : 1);
    }
    usleep(100000);
    // Still waiting: the file is as this write found it.
    EXPECT_EQ(Get(), "[S]\r\nk=1\r\n");
  });
  {
    ScopedIo scoped(&io);
    ASSERT_TRUE(Write("S", "m", "3"));
  }
  int status = 0;
  waitpid(other, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Get(), "[S]\r\nk=1\r\nm=3\r\nj=2\r\n");
}

// A whole-file rewrite stopped by a signal takes its temporary file along; one that a killed
// run left is removed by the next rewrite, unless a run still holds it.
TEST_F(IniItemsTest, RewritesLeaveNoTemporaryFiles) {
  Put("[S]\r\nk=1\r\n[T]\r\n");
  auto listing = [&] {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename());
    return names;
  };
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    FaultyIo io;
    io.Before(FaultyIo::kSync, "/.test.ini.", 1, [signal] { raise(signal); });
    int status = InChild(&io, [&] { engine_->Write(file_, "S", "k", "longer"); });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(listing(), std::set<std::string>{"test.ini"});
  }
  FaultyIo io;
  io.Before(FaultyIo::kSync, "/.test.ini.", 1, [] { _exit(9); });
  InChild(&io, [&] { engine_->Write(file_, "S", "k", "longer"); });
  EXPECT_EQ(listing().size(), 2u);
  EXPECT_EQ(Get(), "[S]\r\nk=1\r\n[T]\r\n");
  ASSERT_TRUE(Write("S", "k", "22"));
  EXPECT_EQ(listing(), std::set<std::string>{"test.ini"});
  EXPECT_EQ(Get(), "[S]\r\nk=22\r\n[T]\r\n");
}

TEST_F(IniItemsTest, RewritesKeepOwnerGroupAndMode) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to own files of other users";
  fs::permissions(dir_, fs::perms::all);
  Put("[S]\r\nk=1\r\n[T]\r\n");
  ASSERT_EQ(chown(file_.c_str(), 0, 50), 0);
  ASSERT_EQ(chmod(file_.c_str(), 0660), 0);
  // A member of the file's group rewrites it: the group stays, and so does the mode.
  ASSERT_EQ(AsNobody({50}, [&] { IniItems().Write(file_, "S", "k", "longer"); }), 0);
  struct stat st;
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(Get(), "[S]\r\nk=longer\r\n[T]\r\n");
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 50u);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
}

// A named pipe or a device in the file's place reads as absent and cannot be written, at once.
TEST_F(IniItemsTest, SpecialFilesReadAsAbsent) {
  ASSERT_EQ(mkfifo(file_.c_str(), 0666), 0);
  EXPECT_EQ(Read("S", "k"), "<absent>");
  EXPECT_FALSE(Write("S", "k", "v"));
  EXPECT_FALSE(engine_->Write("/dev/null", "S", "k", "v"));
}

}  // namespace
