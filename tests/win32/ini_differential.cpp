// The INI engine against the Windows profile functions. Each sequence of item writes and reads
// runs twice, through ini_engine on one file and through the profile functions on a twin file
// that starts with the same bytes; every answer must agree, "absent" included. At the end each
// side reads every item the sequence touched from the file the other side wrote.
//
// The profile functions trust their cached copy of a file while its last-write time is
// unchanged, so every sequence uses files of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "lib/IniEngine.h"
#include "platform/profile.h"

namespace fs = std::filesystem;

namespace {

int g_sequences = 0;
long g_compares = 0;

struct Answer {
  bool found = false;
  std::string value;
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

Answer EngineRead(const std::string& file, const std::string& section, const std::string& key) {
  Answer answer;
  answer.found = ini_engine::ReadValue(file, section, key, &answer.value);
  return answer;
}

Answer ProfileAnswer(const std::string& file, const std::string& section, const std::string& key) {
  Answer answer;
  answer.found = ProfileRead(file, section, key, &answer.value);
  return answer;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

class Scratch {
 public:
  Scratch() {
    std::random_device seed;
    dir_ = fs::temp_directory_path() / ("kx-ini-differential-" + std::to_string(seed()));
    fs::create_directories(dir_);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  fs::path dir_;
};

Scratch* g_scratch = nullptr;

// One sequence on a pair of twin files.
class Twin {
 public:
  // `initial` is the files' first content; without it the files do not exist.
  explicit Twin(const std::string& name) : Twin(name, nullptr) {}
  Twin(const std::string& name, const std::string& initial) : Twin(name, &initial) {}

  void Write(const std::string& section, const std::string& key, const std::string& value) {
    bool engine = ini_engine::WriteValue(engine_, section, key, value);
    bool profile = ProfileWrite(profile_, section, key, value);
    ++g_compares;
    EXPECT_EQ(engine, profile) << "write [" << section << "] " << key << " = " << value;
    Remember(section, key);
  }

  Answer Read(const std::string& section, const std::string& key) {
    Answer engine = EngineRead(engine_, section, key);
    Answer profile = ProfileAnswer(profile_, section, key);
    ++g_compares;
    EXPECT_EQ(engine, profile) << "read [" << section << "] " << key;
    Remember(section, key);
    return engine;
  }

  // Also looked at by the final cross reads.
  void Remember(const std::string& section, const std::string& key) {
    for (const auto& probe : probes_) {
      if (probe.first == section && probe.second == key) return;
    }
    probes_.emplace_back(section, key);
  }

  // Every item the sequence touched, read by both sides from both files.
  void CrossCheck() {
    ++g_sequences;
    for (const auto& probe : probes_) {
      const std::string& section = probe.first;
      const std::string& key = probe.second;
      Answer own = EngineRead(engine_, section, key);
      EXPECT_EQ(ProfileAnswer(profile_, section, key), own) << "[" << section << "] " << key;
      EXPECT_EQ(EngineRead(profile_, section, key), own)
          << "engine reading the profile side's file: [" << section << "] " << key;
      EXPECT_EQ(ProfileAnswer(engine_, section, key), own)
          << "profile functions reading the engine's file: [" << section << "] " << key;
      g_compares += 3;
    }
  }

  const std::string& engine_file() const { return engine_; }
  const std::string& profile_file() const { return profile_; }

 private:
  Twin(const std::string& name, const std::string* initial)
      : engine_(g_scratch->Path(name + "-engine.ini")),
        profile_(g_scratch->Path(name + "-profile.ini")) {
    if (initial != nullptr) {
      WriteBytes(engine_, *initial);
      WriteBytes(profile_, *initial);
    }
    ini_engine::ForgetCache();
  }

  std::string engine_;
  std::string profile_;
  std::vector<std::pair<std::string, std::string>> probes_;
};

TEST(IniDifferential, NewFileSectionsAndKeys) {
  Twin twin("new-file");
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

TEST(IniDifferential, BlanksAroundNamesAndValues) {
  Twin twin("blanks",
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

TEST(IniDifferential, QuotePairs) {
  Twin twin("quotes",
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

TEST(IniDifferential, LetterCase) {
  Twin twin("case", "[Section]\r\nKey=upper\r\nkEY2=two\r\n[OTHER]\r\nx=1\r\n");
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

TEST(IniDifferential, DuplicateSectionsAndKeys) {
  Twin twin("duplicates",
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

TEST(IniDifferential, CommentsAndOddLines) {
  Twin twin("comments",
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

TEST(IniDifferential, LineEnds) {
  struct Variant {
    const char* name;
    const char* text;
  };
  for (const Variant& v :
       {Variant{"lf", "[S]\nk=lf\nj=2\n[T]\nt=3\n"}, Variant{"cr", "[S]\rk=cr\rj=2\r[T]\rt=3\r"},
        Variant{"mixed", "[S]\r\n\nk=mixed\r\r\nj=2\n\r[T]\rt=3"},
        Variant{"no-final-eol", "[S]\r\nk=last\r\nj=2\r\n[T]\r\nt=3"}}) {
    SCOPED_TRACE(v.name);
    Twin twin(std::string("eol-") + v.name, v.text);
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

TEST(IniDifferential, LongLines) {
  std::string long_value(3000, 'v');
  for (size_t i = 0; i < long_value.size(); i += 97) {
    long_value[i] = static_cast<char>('a' + i % 26);
  }
  std::string long_key(3000, 'k');
  Twin twin("long", "[L]\r\nvalue=" + long_value + "\r\n" + long_key + "=keyed\r\nshort=s\r\n");
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

TEST(IniDifferential, EqualsSignsInValues) {
  Twin twin("equals", "[E]\r\nurl=a=b=c\r\n=no key\r\nk = = v\r\n");
  twin.Read("E", "url");
  twin.Read("E", "");
  twin.Read("E", "k");
  twin.Write("E", "url", "x=y");
  twin.Write("E", "new", "==");
  twin.Write("E", "k", "=lead");
  twin.Read("E", "new");
  twin.CrossCheck();
}

TEST(IniDifferential, ByteOrderMark) {
  Twin twin("bom", "\xEF\xBB\xBF[B]\r\nk=v\r\n");
  twin.Read("B", "k");
  twin.Write("B", "k", "w");
  twin.Write("B", "j", "x");
  twin.Write("Top", "t", "y");
  twin.CrossCheck();
}

TEST(IniDifferential, FilesThatCannotBeWritten) {
  Twin twin("unwritable");
  std::string missing_dir = g_scratch->Path("no-such-dir\\x.ini");
  std::string dir = g_scratch->Path("a-directory.ini");
  fs::create_directories(dir);
  for (const std::string& file : {missing_dir, dir}) {
    Answer engine = EngineRead(file, "S", "k");
    EXPECT_EQ(ProfileAnswer(file, "S", "k"), engine) << file;
    EXPECT_FALSE(engine.found);
    bool engine_wrote = ini_engine::WriteValue(file, "S", "k", "v");
    EXPECT_EQ(ProfileWrite(file, "S", "k", "v"), engine_wrote) << file;
    EXPECT_FALSE(engine_wrote);
    g_compares += 2;
  }
  ++g_sequences;
}

// Random sequences over small pools of names and values that collide in letter case, blanks
// and quoting. The seed is fixed, so a failure repeats.
TEST(IniDifferential, RandomSequences) {
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
    Twin twin = round == 0 ? Twin("random-0") : Twin("random-" + std::to_string(round), seed);
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
    std::printf("ini differential: %d sequences, %ld comparisons\n", g_sequences, g_compares);
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  Scratch scratch;
  g_scratch = &scratch;
  ::testing::UnitTest::GetInstance()->listeners().Append(new Summary);
  return RUN_ALL_TESTS();
}
