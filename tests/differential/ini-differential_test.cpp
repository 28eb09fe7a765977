// The native INI items against the Windows profile functions under Wine. Each sequence of item
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
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/profile.h"
#include "tests/TestFiles.h"
#include "tests/e2e/Sandbox.h"

#ifndef KEEPXFER_PROFILE_DRIVER
#define KEEPXFER_PROFILE_DRIVER ""
#endif

namespace fs = std::filesystem;

namespace {

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

using profile_driver::Hex;
using profile_driver::Unhex;

std::string WindowsPath(const std::string& path) { return WindowsPathOf(path); }

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
    if (WineLoader().empty()) GTEST_SKIP() << "Wine is not installed";
    if (std::string(KEEPXFER_PROFILE_DRIVER).empty() || !IsRegular(KEEPXFER_PROFILE_DRIVER)) {
      GTEST_SKIP() << "profile-driver.exe is not built (no MinGW-w64 here)";
    }
    if (prefix == nullptr || *prefix == '\0') GTEST_SKIP() << "no Wine prefix was prepared";
    prefix_ = prefix;
  }

  std::string Path(const std::string& name) const { return dir_ / name; }

  // Runs `ops` on `file` through the profile functions; their answers in order.
  std::vector<Answer> Profile(const std::string& file, const std::vector<Op>& ops) {
    std::vector<std::pair<std::string, Op>> batch;
    for (const Op& op : ops) batch.emplace_back(file, op);
    return Profile(batch);
  }

  // Runs each op on its file, in one run of the profile functions.
  std::vector<Answer> Profile(const std::vector<std::pair<std::string, Op>>& ops) {
    std::string script;
    for (const auto& [file, op] : ops) {
      script += std::string(op.write ? "W " : "R ") + Hex(WindowsPath(file)) + " " +
                Hex(op.section) + " " + Hex(op.key) + (op.write ? " " + Hex(op.value) : "") + "\n";
    }
    WriteFileBytes(dir_ / "script", script);
    RunOptions options;
    options.stdin_path = dir_ / "script";
    // A Wine client that finds its server going away (one that was not kept running), or that
    // ends before the driver gave any answer, tries again once.
    int code = -1;
    for (int attempt = 0; attempt < 2; ++attempt) {
      code = Spawn({WineLoader(), KEEPXFER_PROFILE_DRIVER},
                   {"WINEPREFIX=" + prefix_, "WINEDEBUG=-all", "LC_ALL=" + locale_}, options,
                   dir_ / "answers", dir_ / "driver.err", nullptr);
      const bool never_started = ReadFileBytes(dir_ / "answers").empty() && !ops.empty();
      if (code == 0 ||
          !(never_started ||
            ReadFileBytes(dir_ / "driver.err").find("wine client error") != std::string::npos)) {
        break;
      }
    }
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

  // The locale of the profile functions' runs, and the ANSI code page it has.
  void UseLocale(const std::string& locale, unsigned code_page) {
    locale_ = locale;
    code_page_ = code_page;
  }
  unsigned code_page() const { return code_page_; }

  TempDir dir_;
  std::string prefix_;
  std::string locale_ = "C";
  unsigned code_page_ = 1252;
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
  // read by both sides from both files. Where the profile functions' rewrites change lines they
  // were not asked to change (they rewrite a line with a NUL as its text before the NUL, which
  // reads differently), the engine's reads of their file are not compared.
  void CrossCheck(bool profile_file_is_faithful = true) {
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
    IniItems fresh(test_->code_page());
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
      if (profile_file_is_faithful) {
        EXPECT_EQ(profile_of_profile[i], own[i]) << what;
        EXPECT_EQ(engine_of_profile[i], own[i])
            << "engine reading the profile side's file: " << what;
      } else {
        EXPECT_EQ(engine_of_profile[i], profile_of_profile[i])
            << "both reading the profile side's file: " << what;
      }
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
        engine_(test->code_page()),
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
  IniItems engine_;
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
    IniItems engine;
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

// ---- Encodings, NUL bytes and the 2047-character edge ----

enum class Encoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

const char* NameOf(Encoding e) {
  switch (e) {
    case Encoding::kAnsi:
      return "ansi";
    case Encoding::kUtf8:
      return "utf8";
    case Encoding::kUtf16Le:
      return "utf16le";
    case Encoding::kUtf16Be:
      return "utf16be";
  }
  return "";
}

// The bytes of a file in `e` that holds `utf8` (valid UTF-8; for an ANSI file, the bytes as they
// are), written here by hand.
std::string FileIn(Encoding e, const std::string& utf8) {
  if (e == Encoding::kAnsi) return utf8;
  if (e == Encoding::kUtf8) return "\xEF\xBB\xBF" + utf8;
  const bool big = e == Encoding::kUtf16Be;
  std::string out = big ? "\xFE\xFF" : "\xFF\xFE";
  auto unit = [&](unsigned u) {
    out += static_cast<char>(big ? u >> 8 : u & 0xFF);
    out += static_cast<char>(big ? u & 0xFF : u >> 8);
  };
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    unsigned n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    unsigned code = n == 1 ? c : c & (0xFF >> (n + 1));
    for (unsigned k = 1; k < n; ++k) code = code << 6 | (utf8[i + k] & 0x3F);
    i += n;
    if (code >= 0x10000) {
      unit(0xD800 + ((code - 0x10000) >> 10));
      unit(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      unit(code);
    }
  }
  return out;
}

const Encoding kUnicodeEncodings[] = {Encoding::kUtf8, Encoding::kUtf16Le, Encoding::kUtf16Be};

// Names and values beyond ASCII in files that an editor saved as UTF-8 or UTF-16: the tool's
// names are Windows-1252 text; characters that 1252 cannot hold come out as Windows gives them.
TEST_F(WineProfileDifferential, NamesBeyondAsciiInUnicodeFiles) {
  const std::string text =
      "[Caf\xC3\xA9]\r\n"
      "k\xC3\xA9y=Gr\xC3\xB6\xC3\x9F"
      "e\r\n"
      "omega=\xCE\xA9 and \xC4\x80 and \xE6\x97\xA5\r\n"
      "euro=\xE2\x82\xAC\xC2\x81\r\n"
      "astral=<\xF0\x9F\x98\x80>\r\n"
      "nbsp=\xC2\xA0x\xC2\xA0\r\n"
      "\xCE\xA9=greek key\r\n"
      "[ \xC3\x84rger ]\r\n"
      "q=\"\xC3\xA9 \"\r\n";
  for (Encoding e : kUnicodeEncodings) {
    SCOPED_TRACE(NameOf(e));
    Twin twin(this, std::string("beyond-") + NameOf(e), FileIn(e, text));
    twin.Read("Caf\xE9", "k\xE9y");
    twin.Read("CAF\xC9", "K\xC9Y");  // only ASCII letters fold
    twin.Read("Caf\xE9", "omega");
    twin.Read("Caf\xE9", "euro");
    twin.Read("Caf\xE9", "astral");
    twin.Read("Caf\xE9", "nbsp");
    twin.Read("Caf\xE9", "O");  // the best fit of a name does not find it
    twin.Read("\xC4rger", "q");
    twin.Write("Caf\xE9", "k\xE9y",
               "Gr\xF6\xDF"
               "er \x80");
    twin.Write("Caf\xE9", "new\x81", "\x8D\x8F\x90\x9D\xFF");
    twin.Write("Caf\xE9", "omega", "O and A and ?");  // what it reads as, but not what it holds
    twin.Write("Neu\xE4", "x",
               "\xA0"
               "y\xA0");
    twin.Write("\xC4rger", "q", "\"\xE9 \"");
    twin.Read("Caf\xE9", "new\x81");
    twin.Read("Neu\xE4", "x");
    twin.CrossCheck();
  }
}

// UTF-8 that is not valid: each sequence comes out as the replacement characters Windows makes
// of it, in 1252 a "?" each.
TEST_F(WineProfileDifferential, InvalidUtf8) {
  const char* const sequences[] = {"\xC3",
                                   "\xC3(",
                                   "\xE2\x82",
                                   "\xE2\x82x",
                                   "\xE2(\xAC",
                                   "\xF0\x9F\x98",
                                   "\xC0\x80",
                                   "\xC1\xBF",
                                   "\xE0\x80\x80",
                                   "\xED\xA0\x80",
                                   "\xED\xBF\xBF",
                                   "\xF4\x90\x80\x80",
                                   "\xF5\x80\x80\x80",
                                   "\xF8\x88\x80\x80\x80",
                                   "\x80\x80",
                                   "\xBF",
                                   "\xFE",
                                   "\xFF",
                                   "\xEF\xBB\xBF",
                                   "\xF0\x90\x80\x80"};
  std::string text = "\xEF\xBB\xBF[S]\r\n";
  int i = 0;
  for (const char* seq : sequences) text += "k" + std::to_string(i++) + "=<" + seq + ">\r\n";
  text += "\xC3=invalid key\r\nend=\xE2\x82";  // the file ends inside a sequence
  Twin twin(this, "invalid-utf8", text);
  for (int k = 0; k < i; ++k) twin.Read("S", "k" + std::to_string(k));
  twin.Read("S", "?");
  twin.Read("S", "end");
  twin.Write("S", "k3", "replaced");
  twin.Write("S", "added", "\xE9");
  twin.CrossCheck();
}

// NUL bytes: names and values end at them, as C strings do, after the line was trimmed.
TEST_F(WineProfileDifferential, NulBytes) {
  static const char kText[] =
      "[S]\r\n"
      "v=ab\0cd\r\n"
      "k\0x=1\r\n"
      "\0lead=2\r\n"
      "tr=3\0\r\n"
      "sp = x \0 y \r\n"
      "key \0 =5\r\n"
      "q=\"a\0b\"\r\n"
      "z=\0\r\n"
      "[T\0U]\r\n"
      "t=4\r\n"
      "[ V \0W ]\r\n"
      "w=6\r\n"
      "[X]\0junk\r\n"
      "x=7\r\n"
      "[\0]\r\n"
      "e=8\r\n";
  const std::string text(kText, sizeof kText - 1);
  for (Encoding e : {Encoding::kAnsi, Encoding::kUtf8, Encoding::kUtf16Le}) {
    SCOPED_TRACE(NameOf(e));
    Twin twin(this, std::string("nul-") + NameOf(e), FileIn(e, text));
    for (const char* key : {"v", "k", "kx", "lead", "", "tr", "sp", "key", "key ", "q", "z"}) {
      twin.Read("S", key);
    }
    twin.Read("T", "t");
    twin.Read("TU", "t");
    twin.Read("V", "w");
    twin.Read("V ", "w");
    twin.Read("X", "x");
    twin.Read("", "e");
    twin.Write("S", "k", "changed");
    twin.Write("S", "v", "ab");
    twin.Write("T", "new", "in T");
    twin.Write("S", std::string("n\0ul", 4), std::string("va\0lue", 6));
    twin.Read("S", "n");
    twin.Read("T", "new");
    twin.CrossCheck(false);
  }
}

// Values of 2046 to 2049 characters, with and without quotes: the buffer of 2048 characters
// takes 2047, and an enclosing quote pair goes after that.
TEST_F(WineProfileDifferential, ValuesAtThe2047Edge) {
  std::string text = "[L]\r\n";
  std::vector<std::string> keys;
  for (int n = 2045; n <= 2050; ++n) {
    std::string body(n - 1, 'a');
    body += 'Z';
    std::string wide(n - 1, 'a');
    wide += "\xC3\xA9";  // a character of two UTF-8 bytes, one UTF-16 unit, at the edge
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"u", body},
                                      {"d", "\"" + body + "\""},
                                      {"s", "'" + body + "'"},
                                      {"m", "\"" + body + "'"},
                                      {"w", "\"" + wide + "\""},
                                      {"x", wide}}) {
      keys.push_back(name + std::to_string(n));
      text += keys.back() + "=" + value + "\r\n";
    }
  }
  for (Encoding e : {Encoding::kAnsi, Encoding::kUtf8, Encoding::kUtf16Le}) {
    SCOPED_TRACE(NameOf(e));
    Twin twin(this, std::string("edge-") + NameOf(e), FileIn(e, text));
    for (const std::string& key : keys) twin.Read("L", key);
    twin.Write("L", "written", "\"" + std::string(2047, 'q') + "\"");
    twin.Write("L", "written2", "'" + std::string(2048, 'q') + "'");
    twin.Read("L", "written");
    twin.Read("L", "written2");
    twin.CrossCheck();
  }
}

// Sections without a name: the one before the first section line is found by the name "", a
// "[]" or "[ ]" line is a section that no name finds. (The profile functions write such a
// section back without its line, so that its keys join the section before: the engine keeps
// the file as it is, and only reads are compared here.)
TEST_F(WineProfileDifferential, SectionsWithoutAName) {
  Twin twin(this, "unnamed", "top=0\r\n[S]\r\na=1\r\n[]\r\nb=2\r\n[ ]\r\nc=3\r\n[T]\r\nd=4\r\n");
  for (const char* key : {"top", "a", "b", "c", "d"}) {
    twin.Read("", key);
    twin.Read("S", key);
    twin.Read(" ", key);
  }
  twin.CrossCheck();
}

// Another code page: a Russian locale's 1251, in a UTF-16 file with Cyrillic names.
TEST_F(WineProfileDifferential, AnotherCodePage) {
  UseLocale("ru_RU.UTF-8", 1251);
  const std::string text =
      "[\xD0\x9E\xD0\xBA\xD0\xBD\xD0\xBE]\r\n"  // Окно
      "\xD0\x98\xD0\xBC\xD1\x8F=\xD0\x91\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBD\xD0\xBE\xD1\x82\r\n"
      "latin=Caf\xC3\xA9 \xE2\x82\xAC\r\n";
  for (Encoding e : {Encoding::kUtf8, Encoding::kUtf16Le}) {
    SCOPED_TRACE(NameOf(e));
    Twin twin(this, std::string("cp1251-") + NameOf(e), FileIn(e, text));
    twin.Read("\xCE\xEA\xED\xEE", "\xC8\xEC\xFF");
    twin.Read("\xCE\xEA\xED\xEE", "latin");
    twin.Write("\xCE\xEA\xED\xEE", "\xC8\xEC\xFF", "\xCD\xEE\xE2\xEE\xE5 \x88");
    twin.Write("\xCD\xEE\xE2\xFB\xE9", "k", "\x98\xC0");
    twin.CrossCheck();
  }
}

// Random sequences over small pools of names and values that collide in letter case, blanks
// and quoting. The seed is fixed, so a failure repeats.
TEST_F(WineProfileDifferential, RandomSequences) {
  const std::vector<std::string> sections = {"Alpha", "alpha",       " ALPHA ", "Beta",
                                             "",      "Gamma Delta", "a]b",     "Entry7"};
  const std::vector<std::string> keys = {"k", "K", " k ", "key two", "a=b", ";c", "#h", "Z"};
  const std::vector<std::string> values = {"",         "v",
                                           "  lead",   "trail  ",
                                           "\"q\"",    "'s'",
                                           "\"mixed'", "a=b=c",
                                           "x;y",      "\t tab ",
                                           "\"",       "''",
                                           "Default",  std::string(2100, 'L'),
                                           "\xE9\x80", std::string("n\0ul", 4)};
  const std::vector<std::string> seeds = {
      "",
      "[Alpha]\r\nk=1\r\nZ=2\r\n\r\n[Beta]\r\nkey two=3\r\n",
      "[beta]\nk=lf\n;c=4\n[alpha]\nz=5\n",
      "top=0\r[Gamma Delta]\r#h=6\r[Alpha]\rK=7\r[Alpha]\rk=8\r",
      FileIn(Encoding::kUtf8, "[Alpha]\r\nk=\xC3\xA9\r\n[Beta]\r\nkey two=\xCE\xA9\r\n"),
      FileIn(Encoding::kUtf16Le, "[Alpha]\r\nk=\xC3\xA9\r\n[Beta]\nkey two=\xE6\x97\xA5\n"),
      FileIn(Encoding::kUtf16Be, "top=0\r\n[Gamma Delta]\r\n#h=\xF0\x9F\x98\x80\r\n"),
      std::string("\xFF\xFE", 2)};
  std::mt19937 random(20240611);
  for (size_t round = 0; round < 12; ++round) {
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

// Random files in every encoding, with the names and values of a small pool, NUL bytes, bytes
// beyond ASCII, quotes and blanks; random reads and writes on each. All files of a round go
// through one run of the profile functions. The seed is fixed, so a failure repeats.
TEST_F(WineProfileDifferential, RandomFilesInEveryEncoding) {
  const std::vector<std::string> names = {"S", "s", " S ", "T\xC3\xA9", "",   "Entry0",
                                          "k", "K", "key", "n\xC3\xBC", "x=y"};
  const std::vector<std::string> ansi_names = {"S", "s", " S ", "T\xE9", "",   "Entry0",
                                               "k", "K", "key", "n\xFC", "x=y"};
  const std::vector<std::string> pieces = {"v",
                                           " ",
                                           "\t",
                                           "\"",
                                           "'",
                                           "=",
                                           "\xC3\xA9",
                                           "\xE2\x82\xAC",
                                           "\xCE\xA9",
                                           "\xF0\x9F\x98\x80",
                                           std::string(1, '\0'),
                                           "\x1A",
                                           "[",
                                           "]",
                                           ";",
                                           "Default",
                                           std::string(300, 'w')};
  const std::vector<std::string> ansi_values = {"",
                                                "v",
                                                " lead",
                                                "trail ",
                                                "\"q\"",
                                                "'s'",
                                                "\xE9\x80\x81\xFF",
                                                "\xA0",
                                                std::string(2050, 'L'),
                                                "\"" + std::string(2047, 'Q') + "\""};
  const std::vector<std::string> line_ends = {"\r\n", "\n", "\r", "\r\n\r\n"};
  const std::vector<Encoding> encodings = {Encoding::kAnsi, Encoding::kUtf8, Encoding::kUtf16Le,
                                           Encoding::kUtf16Be};
  auto History = [](const auto& file, std::size_t upto) {
    std::string out;
    for (std::size_t i = 0; i < upto; ++i) out += "\n  " + file.ops[i].Describe();
    return out;
  };
  const char* seed = std::getenv("KX_DIFFERENTIAL_SEED");
  std::mt19937 random(seed != nullptr ? std::atoi(seed) : 1500);
  auto pick = [&](const auto& pool) -> const auto& { return pool[random() % pool.size()]; };
  for (int round = 0; round < 5; ++round) {
    struct File {
      std::string engine_file, profile_file;
      std::vector<Op> ops;
      std::vector<Answer> answers;
      bool has_nul = false;
      std::string initial;
    };
    std::vector<File> files(100);
    std::vector<std::pair<std::string, Op>> batch;
    for (std::size_t f = 0; f < files.size(); ++f) {
      File& file = files[f];
      std::string text;
      for (int line = 0, lines = 1 + random() % 12; line < lines; ++line) {
        if (random() % 3 == 0) {
          // Not an empty section name: the profile functions rewrite such a section without its
          // header, so that its keys join the section before (a case of its own below).
          std::string name;
          while (name.empty()) name = pick(names);
          text += (random() % 4 ? " [" : "[") + name + (random() % 5 ? "]" : "") + " ";
        } else {
          text += pick(names);
          if (random() % 6) text += (random() % 2 ? "=" : " = ");
          for (int p = 0, n = random() % 4; p < n; ++p) text += pick(pieces);
        }
        text += pick(line_ends);
      }
      Encoding encoding = pick(encodings);
      file.has_nul = text.find('\0') != std::string::npos;
      const std::string base = "random-" + std::to_string(round) + "-" + std::to_string(f);
      file.engine_file = Path(base + "-engine.ini");
      file.profile_file = Path(base + "-profile.ini");
      file.initial = FileIn(encoding, text);
      WriteFileBytes(file.engine_file, FileIn(encoding, text));
      WriteFileBytes(file.profile_file, FileIn(encoding, text));
      IniItems engine(code_page());
      for (int step = 0; step < 12; ++step) {
        Op op{random() % 3 == 0, pick(ansi_names), pick(ansi_names), ""};
        Answer answer;
        if (op.write) {
          op.value = pick(ansi_values);
          answer.found = engine.Write(file.engine_file, op.section, op.key, op.value);
        } else {
          answer.found = engine.Read(file.engine_file, op.section, op.key, &answer.value);
        }
        file.ops.push_back(op);
        file.answers.push_back(answer);
        batch.emplace_back(file.profile_file, op);
      }
    }
    std::vector<Answer> profile = Profile(batch);
    std::size_t at = 0;
    std::vector<std::pair<std::string, Op>> cross;
    for (File& file : files) {
      bool written = false;
      for (std::size_t i = 0; i < file.ops.size(); ++i, ++at) {
        // The profile functions' first write rewrites a line with a NUL as its text before the
        // NUL, which reads differently; from there on their file is no longer the engine's.
        if (written && file.has_nul) continue;
        written = written || (file.ops[i].write && profile[at].found);
        ++g_compares;
        EXPECT_EQ(file.answers[i], profile[at])
            << file.engine_file << " step " << i << ": " << file.ops[i].Describe() << "\n"
            << fuzz::Show(file.initial) << History(file, i);
      }
      for (const Op& op : file.ops)
        cross.emplace_back(file.engine_file, Op{false, op.section, op.key, ""});
    }
    // The profile functions read what the engine wrote as the engine does.
    std::vector<Answer> of_engine = Profile(cross);
    at = 0;
    for (File& file : files) {
      IniItems fresh(code_page());
      for (const Op& op : file.ops) {
        Answer own;
        own.found = fresh.Read(file.engine_file, op.section, op.key, &own.value);
        ++g_compares;
        EXPECT_EQ(of_engine[at++], own) << file.engine_file << " [" << op.section << "] " << op.key;
      }
      ++g_sequences;
    }
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
