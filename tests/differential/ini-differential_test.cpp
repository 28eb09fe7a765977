// The native INI engine against the Windows profile functions under Wine. Each sequence of item
// writes and reads runs twice: through the engine on one file, and through the profile
// functions (profile-driver.exe, the calls Keepxfer.exe makes) on a twin file that starts with
// the same bytes; every answer must agree, "absent" included. At the end each side reads every
// item the sequence touched from the file the other side wrote.
//
// The profile functions trust their cached copy of a file while its last-write time is
// unchanged, so every sequence uses files of its own, and the driver runs afresh for each step
// that reads a file the other side wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/ini-engine.h"
#include "tests/TestFiles.h"
#include "tests/e2e/Sandbox.h"

#ifndef KEEPXFER_PROFILE_DRIVER
#define KEEPXFER_PROFILE_DRIVER ""
#endif

namespace fs = std::filesystem;

namespace {

const char* const kWineLoader = "/usr/lib/wine/wine";

int g_sequences = 0;
long g_compares = 0;

struct Answer {
  bool found = false;
  std::string value;  // a write's answer is found alone
  bool operator==(const Answer& other) const {
    return found == other.found && (!found || value == other.value);
  }
};

std::ostream& operator<<(std::ostream& out, const Answer& answer) {
  if (!answer.found) return out << "<absent>";
  if (answer.value.size() > 60) {
    return out << '"' << answer.value.substr(0, 40) << "...\" (" << answer.value.size() << ")";
  }
  return out << '"' << answer.value << '"';
}

std::string Hex(const std::string& bytes) {
  if (bytes.empty()) return "-";
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Unhex(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// A POSIX path as Wine shows it, on drive Z:.
std::string WindowsPath(const std::string& path) {
  std::string out = "Z:";
  for (char c : path) out += c == '/' ? '\\' : c;
  return out;
}

struct Op {
  bool write;
  std::string section, key, value;
  std::string Describe() const {
    return (write ? "write [" : "read [") + section + "] " + key + (write ? " = " + value : "");
  }
};

class WineProfileDifferential : public ::testing::Test {
 public:
  void SetUp() override {
    const char* prefix = std::getenv("KEEPXFER_WINEPREFIX");
    if (access(kWineLoader, X_OK) != 0) GTEST_SKIP() << "Wine (wine32) is not installed";
    if (std::string(KEEPXFER_PROFILE_DRIVER).empty() || !IsRegular(KEEPXFER_PROFILE_DRIVER)) {
      GTEST_SKIP() << "profile-driver.exe is not built (no MinGW-w64 here)";
    }
    if (prefix == nullptr || *prefix == '\0') GTEST_SKIP() << "no Wine prefix was prepared";
    prefix_ = prefix;
  }

  std::string Path(const std::string& name) const { return dir_ / name; }

  // Runs `ops` on `file` through the profile functions; their answers in order.
  std::vector<Answer> Profile(const std::string& file, const std::vector<Op>& ops) {
    std::string script;
    for (const Op& op : ops) {
      script += std::string(op.write ? "W " : "R ") + Hex(WindowsPath(file)) + " " +
                Hex(op.section) + " " + Hex(op.key) + (op.write ? " " + Hex(op.value) : "") + "\n";
    }
    WriteFileBytes(dir_ / "script", script);
    RunOptions options;
    options.stdin_path = dir_ / "script";
    int code =
        Spawn({kWineLoader, KEEPXFER_PROFILE_DRIVER}, {"WINEPREFIX=" + prefix_, "WINEDEBUG=-all"},
              options, dir_ / "answers", dir_ / "driver.err", nullptr);
    EXPECT_EQ(code, 0) << ReadFileBytes(dir_ / "driver.err");
    std::istringstream in(ReadFileBytes(dir_ / "answers"));
    std::vector<Answer> answers;
    std::string line;
    while (std::getline(in, line)) {
      Answer answer;
      answer.found = !line.empty() && (line[0] == '+' || line[0] == '1');
      if (!line.empty() && line[0] == '+') answer.value = Unhex(line.substr(1));
      answers.push_back(answer);
    }
    EXPECT_EQ(answers.size(), ops.size()) << "the driver stopped early";
    answers.resize(ops.size());
    return answers;
  }

  TempDir dir_;
  std::string prefix_;
};

// One sequence on a pair of twin files.
class Twin {
 public:
  // `initial` is the files' first content; without it the files do not exist.
  Twin(WineProfileDifferential* test, const std::string& name) : Twin(test, name, nullptr) {}
  Twin(WineProfileDifferential* test, const std::string& name, const std::string& initial)
      : Twin(test, name, &initial) {}

  void Write(const std::string& section, const std::string& key, const std::string& value) {
    Answer answer;
    answer.found = engine_.Write(engine_file_, section, key, value);
    Add({true, section, key, value}, answer);
  }

  Answer Read(const std::string& section, const std::string& key) {
    Answer answer;
    answer.found = engine_.Read(engine_file_, section, key, &answer.value);
    Add({false, section, key, ""}, answer);
    return answer;
  }

  // The profile functions' answers against the engine's; then every item the sequence touched,
  // read by both sides from both files.
  void CrossCheck() {
    ++g_sequences;
    std::vector<Answer> profile = test_->Profile(profile_file_, ops_);
    for (std::size_t i = 0; i < ops_.size(); ++i) {
      ++g_compares;
      EXPECT_EQ(answers_[i], profile[i]) << "step " << i << ": " << ops_[i].Describe();
    }
    std::vector<Op> reads;
    for (const Op& op : ops_) {
      bool seen = false;
      for (const Op& read : reads)
        seen = seen || (read.section == op.section && read.key == op.key);
      if (!seen) reads.push_back({false, op.section, op.key, ""});
    }
    std::vector<Answer> own;
    std::vector<Answer> engine_of_profile;
    IniEngine fresh;
    for (const Op& read : reads) {
      Answer a;
      a.found = fresh.Read(engine_file_, read.section, read.key, &a.value);
      own.push_back(a);
      Answer b;
      b.found = fresh.Read(profile_file_, read.section, read.key, &b.value);
      engine_of_profile.push_back(b);
    }
    std::vector<Answer> profile_of_profile = test_->Profile(profile_file_, reads);
    std::vector<Answer> profile_of_engine = test_->Profile(engine_file_, reads);
    for (std::size_t i = 0; i < reads.size(); ++i) {
      const std::string what = "[" + reads[i].section + "] " + reads[i].key;
      EXPECT_EQ(profile_of_profile[i], own[i]) << what;
      EXPECT_EQ(engine_of_profile[i], own[i]) << "engine reading the profile side's file: " << what;
      EXPECT_EQ(profile_of_engine[i], own[i])
          << "profile functions reading the engine's file: " << what;
      g_compares += 3;
    }
  }

  const std::string& engine_file() const { return engine_file_; }
  const std::string& profile_file() const { return profile_file_; }

 private:
  Twin(WineProfileDifferential* test, const std::string& name, const std::string* initial)
      : test_(test),
        engine_file_(test->Path(name + "-engine.ini")),
        profile_file_(test->Path(name + "-profile.ini")) {
    if (initial != nullptr) {
      WriteFileBytes(engine_file_, *initial);
      WriteFileBytes(profile_file_, *initial);
    }
  }

  void Add(const Op& op, const Answer& answer) {
    ops_.push_back(op);
    answers_.push_back(answer);
  }

  WineProfileDifferential* test_;
  IniEngine engine_;
  std::string engine_file_;
  std::string profile_file_;
  std::vector<Op> ops_;
  std::vector<Answer> answers_;
};

TEST_F(WineProfileDifferential, NewFileSectionsAndKeys) {
  Twin twin(this, "new-file");
  twin.Read("Main", "Key");
  twin.Write("Main", "Key", "one");
  twin.Write("Main", "Other", "two");
  twin.Write("Second", "Key", "three");
  twin.Write("Main", "Key", "replaced");
  twin.Write("Main", "Key", "replaced");  // the same value again
  twin.Write("Second", "Empty", "");
  twin.Read("Main", "Key");
  twin.Read("Main", "Missing");
  twin.Read("Third", "Key");
  twin.Read("Second", "Empty");
  twin.CrossCheck();
}

TEST_F(WineProfileDifferential, BlanksAroundNamesAndValues) {
  Twin twin(this, "blanks",
            "  [ Spaced ]  \r\n"
            "  padded key  =  padded value  \r\n"
            "\ttabs\t=\tvalue\t\r\n"
            "sub\x1a=\x1a"
            "26\x1a\r\n"
            "vt\v=\fff\v\r\n"
            "\r\n\r\n"
            "empty=\r\n"
            "blank=   \r\n");
  for (const char* key : {"padded key", " padded key ", "tabs", "sub", "vt", "empty", "blank"}) {
    twin.Read("Spaced", key);
    twin.Read(" Spaced ", key);
  }
  twin.Write("Spaced", "  padded key ", "  new value  ");
  twin.Write(" Spaced", "lead", "\t\tafter tabs");
  twin.Write("Spaced ", "trail", "before blanks   ");
  twin.Write("Spaced", "blank", "   ");
  twin.Write("  New Section  ", "  k  ", " v ");
  twin.Read("New Section", "k");
  twin.Read("Spaced", "trail");
  twin.CrossCheck();
}

TEST_F(WineProfileDifferential, QuotePairs) {
  Twin twin(this, "quotes",
            "[Q]\r\n"
            "double=\"quoted\"\r\n"
            "single='quoted'\r\n"
            "mixed=\"mixed'\r\n"
            "lone=\"\r\n"
            "pair=\"\"\r\n"
            "padded=\"  padded \"\r\n"
            "outer=  \"inner\"  \r\n"
            "nested=\"'x'\"\r\n"
            "inside='a'b'\r\n");
  for (const char* key :
       {"double", "single", "mixed", "lone", "pair", "padded", "outer", "nested", "inside"}) {
    twin.Read("Q", key);
  }
  twin.Write("Q", "new double", "\"  kept  \"");
  twin.Write("Q", "new single", "'x'");
  twin.Write("Q", "double", "'\"'");
  twin.Write("Q", "lone", "'");
  twin.Write("Q", "half", "\"open");
  twin.Read("Q", "new double");
  twin.Read("Q", "double");
  twin.CrossCheck();
}

TEST_F(WineProfileDifferential, LetterCase) {
  Twin twin(this, "case", "[Section]\r\nKey=upper\r\nkEY2=two\r\n[OTHER]\r\nx=1\r\n");
  twin.Read("SECTION", "key");
  twin.Read("section", "KEY2");
  twin.Read("other", "X");
  twin.Write("sEcTiOn", "KEY", "changed");
  twin.Write("Other", "X", "2");
  twin.Write("section", "NewKey", "n");
  twin.Write("SECTION", "newkey", "m");
  twin.Read("Section", "newKEY");
  twin.Read("Section", "Key");
  twin.CrossCheck();
}

TEST_F(WineProfileDifferential, DuplicateSectionsAndKeys) {
  Twin twin(this, "duplicates",
            "[A]\r\nk=first\r\nk=second\r\n"
            "[B]\r\nb=1\r\n"
            "[a]\r\nk=third\r\nonly=in second A\r\n");
  twin.Read("A", "k");
  twin.Read("A", "only");
  twin.Read("B", "b");
  twin.Write("A", "k", "rewritten");
  twin.Write("A", "only", "added to the first A");
  twin.Write("a", "K", "again");
  twin.Read("A", "k");
  twin.Read("A", "only");
  twin.CrossCheck();
}

TEST_F(WineProfileDifferential, CommentsAndOddLines) {
  Twin twin(this, "comments",
            "; leading comment\r\n"
            "top=before any section\r\n"
            "[C]\r\n"
            ";k=commented\r\n"
            "# hash = 2\r\n"
            "no equals sign\r\n"
            "k=real\r\n"
            "[Half\r\n"
            "half=in C\r\n"
            "[Tail]x\r\n"
            "t=1\r\n"
            "[ ]\r\n"
            "e=empty-named\r\n"
            "; trailing comment\r\n");
  twin.Read("", "top");
  twin.Read("", "e");
  twin.Read("C", ";k");
  twin.Read("C", "# hash");
  twin.Read("C", "no equals sign");
  twin.Read("C", "k");
  twin.Read("C", "half");
  twin.Read("C", "[Half");
  twin.Read("Half", "half");
  twin.Read("Tail", "t");
  twin.Write("C", "added", "after the comments");
  twin.Write("C", "no equals sign", "now with one");
  twin.Write("Tail", "t", "2");
  twin.Write("", "top", "changed");
  twin.Write("C", ";k", "still a key");
  twin.Read("C", "added");
  twin.CrossCheck();
}

TEST_F(WineProfileDifferential, LineEnds) {
  struct Variant {
    const char* name;
    const char* text;
  };
  for (const Variant& v :
       {Variant{"lf", "[S]\nk=lf\nj=2\n[T]\nt=3\n"}, Variant{"cr", "[S]\rk=cr\rj=2\r[T]\rt=3\r"},
        Variant{"mixed", "[S]\r\n\nk=mixed\r\r\nj=2\n\r[T]\rt=3"},
        Variant{"no-final-eol", "[S]\r\nk=last\r\nj=2\r\n[T]\r\nt=3"}}) {
    SCOPED_TRACE(v.name);
    Twin twin(this, std::string("eol-") + v.name, v.text);
    twin.Read("S", "k");
    twin.Read("S", "j");
    twin.Read("T", "t");
    twin.Write("S", "k", "a longer value than before");
    twin.Write("S", "new", "in S");
    twin.Write("T", "t", "");
    twin.Write("T", "u", "after the last line");
    twin.Write("U", "u", "new section");
    twin.Read("S", "j");
    twin.Read("T", "u");
    twin.CrossCheck();
  }
}

TEST_F(WineProfileDifferential, LongLines) {
  std::string long_value(3000, 'v');
  for (size_t i = 0; i < long_value.size(); i += 97) {
    long_value[i] = static_cast<char>('a' + i % 26);
  }
  std::string long_key(3000, 'k');
  Twin twin(this, "long",
            "[L]\r\nvalue=" + long_value + "\r\n" + long_key + "=keyed\r\nshort=s\r\n");
  EXPECT_EQ(twin.Read("L", "value").value.size(), 2047u);
  twin.Read("L", long_key);
  twin.Read("L", "short");
  twin.Write("L", "written", long_value);
  twin.Write("L", "value", "now short");
  twin.Write("L", "short", std::string(2047, 'x'));
  twin.Write("L", "edge", std::string(2048, 'y'));
  twin.Write("L", "quoted", "\"" + std::string(2046, 'q') + "\"");
  twin.Read("L", "written");
  twin.Read("L", "short");
  twin.Read("L", "edge");
  twin.Read("L", "quoted");
  twin.CrossCheck();
}

TEST_F(WineProfileDifferential, EqualsSignsInValues) {
  Twin twin(this, "equals", "[E]\r\nurl=a=b=c\r\n=no key\r\nk = = v\r\n");
  twin.Read("E", "url");
  twin.Read("E", "");
  twin.Read("E", "k");
  twin.Write("E", "url", "x=y");
  twin.Write("E", "new", "==");
  twin.Write("E", "k", "=lead");
  twin.Read("E", "new");
  twin.CrossCheck();
}

TEST_F(WineProfileDifferential, ByteOrderMark) {
  Twin twin(this, "bom", "\xEF\xBB\xBF[B]\r\nk=v\r\n");
  twin.Read("B", "k");
  twin.Write("B", "k", "w");
  twin.Write("B", "j", "x");
  twin.Write("Top", "t", "y");
  twin.CrossCheck();
}

TEST_F(WineProfileDifferential, FilesThatCannotBeWritten) {
  std::string missing_dir = Path("no-such-dir/x.ini");
  std::string dir = Path("a-directory.ini");
  fs::create_directories(dir);
  const std::vector<Op> ops = {{false, "S", "k", ""}, {true, "S", "k", "v"}};
  for (const std::string& file : {missing_dir, dir}) {
    IniEngine engine;
    std::string value;
    std::vector<Answer> mine(2);
    mine[0].found = engine.Read(file, "S", "k", &mine[0].value);
    mine[1].found = engine.Write(file, "S", "k", "v");
    std::vector<Answer> profile = Profile(file, ops);
    EXPECT_EQ(profile[0], mine[0]) << file;
    EXPECT_EQ(profile[1], mine[1]) << file;
    EXPECT_FALSE(mine[0].found);
    EXPECT_FALSE(mine[1].found);
    g_compares += 2;
  }
  ++g_sequences;
}

// Random sequences over small pools of names and values that collide in letter case, blanks
// and quoting. The seed is fixed, so a failure repeats.
TEST_F(WineProfileDifferential, RandomSequences) {
  const std::vector<std::string> sections = {"Alpha", "alpha",       " ALPHA ", "Beta",
                                             "",      "Gamma Delta", "a]b",     "Entry7"};
  const std::vector<std::string> keys = {"k", "K", " k ", "key two", "a=b", ";c", "#h", "Z"};
  const std::vector<std::string> values = {
      "",      "v",   "  lead",  "trail  ", "\"q\"", "'s'",     "\"mixed'",
      "a=b=c", "x;y", "\t tab ", "\"",      "''",    "Default", std::string(2100, 'L')};
  const std::vector<std::string> seeds = {
      "", "[Alpha]\r\nk=1\r\nZ=2\r\n\r\n[Beta]\r\nkey two=3\r\n",
      "[beta]\nk=lf\n;c=4\n[alpha]\nz=5\n",
      "top=0\r[Gamma Delta]\r#h=6\r[Alpha]\rK=7\r[Alpha]\rk=8\r"};
  std::mt19937 random(20240611);
  for (size_t round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string& seed = seeds[round % seeds.size()];
    Twin twin =
        round == 0 ? Twin(this, "random-0") : Twin(this, "random-" + std::to_string(round), seed);
    for (int step = 0; step < 120; ++step) {
      const std::string& section = sections[random() % sections.size()];
      const std::string& key = keys[random() % keys.size()];
      if (random() % 5 < 3) {
        twin.Write(section, key, values[random() % values.size()]);
      } else {
        twin.Read(section, key);
      }
    }
    twin.CrossCheck();
  }
}

class Summary : public ::testing::EmptyTestEventListener {
  void OnTestProgramEnd(const ::testing::UnitTest&) override {
    if (g_sequences > 0) {
      std::printf("ini differential: %d sequences, %ld comparisons\n", g_sequences, g_compares);
    }
  }
};

const bool kSummary = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new Summary);
  return true;
}();

}  // namespace
