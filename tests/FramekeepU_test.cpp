#include "exchange/FramekeepU.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

#include "base/Errors.h"
#include "lib/IniU.h"
#include "tests/TargetsBuilder.h"
#include "tests/TestFiles.h"
#include "tests/exchange-edits.h"

namespace {

template <std::size_t N>
std::string FieldText(const std::array<char, N>& field) {
  return std::string(field.data(), std::find(field.begin(), field.end(), '\0') - field.begin());
}

class Exchange : public ::testing::Test {
 protected:
  void TearDown() override { FinalFramekeepU(); }

  // Exports `data` and answers the INI text.
  std::string Export(const std::string& data) {
    WriteFileBytes(dat_, data);
    std::int32_t count = ExportToIni(dat_, ini_);
    EXPECT_EQ(count, static_cast<std::int32_t>(Targets.Entries.size()));
    return ReadFileBytes(ini_);
  }
  // Imports `ini_text` and answers the data file's bytes.
  std::string Import(const std::string& ini_text) {
    WriteFileBytes(ini_, ini_text);
    ImportFromIni(ini_, dat_);
    return ReadFileBytes(dat_);
  }
  // The error message of an import that must fail, with the data file unchanged.
  std::string ImportError(const std::string& ini_text) {
    WriteFileBytes(dat_, "old");
    WriteFileBytes(ini_, ini_text);
    try {
      ImportFromIni(ini_, dat_);
    } catch (const ToolError& e) {
      EXPECT_EQ(ReadFileBytes(dat_), "old");
      return std::string(e.Kind()) + ": " + e.Message();
    }
    ADD_FAILURE() << "import succeeded";
    return "";
  }

  TempDir dir_;
  // The copies that imports keep.
#ifdef _WIN32
  ScopedEnv copies_{"LOCALAPPDATA", dir_ / "state"};
#else
  ScopedEnv copies_{"XDG_STATE_HOME", dir_ / "state"};
#endif
  std::string dat_ = dir_ / "Targets.DAT";
  std::string ini_ = dir_ / "x.ini";
};

const char* const kHeader =
    "[Header]\r\nWord1=1\r\nWord3=3\r\nNumEntries=1\r\n"
    "[Defaults]\r\nDefaultPositionHorizontal=11\r\nDefaultPositionVertical=22\r\n"
    "DefaultSizeHorizontal=33\r\nDefaultSizeVertical=44\r\n";

// The entry's layout, byte for byte, written out here rather than through the codec.
TEST_F(Exchange, CodecPutsEveryFieldAtItsOffset) {
  unsigned char expected[kEntrySize] = {};
  std::memcpy(expected, "Title", 5);
  std::memcpy(expected + 129, "Cls", 3);
  const unsigned char numbers[] = {
      0x05, 0x00, 0x00, 0x00,  // 260 Action
      0x02, 0x00, 0x00, 0x00,  // 264 SearchMethod
      0x01, 0x00, 0x00, 0x00,  // 268 SetPosition
      0x34, 0x12, 0x00, 0x00,  // 272 PositionHorizontal
      0x78, 0x56, 0x00, 0x00,  // 276 PositionVertical
      0xBC, 0x9A, 0x00, 0x00,  // 280 SizeHorizontal
      0xFF, 0xFF, 0x01, 0x80,  // 284 SizeVertical, high half included
  };
  std::memcpy(expected + 260, numbers, sizeof numbers);

  typEntry e = MakeEntry("Title", "Cls", 5, 2, 1, 0x1234, 0x5678, 0x9ABC, 0x8001FFFF);
  unsigned char bytes[kEntrySize];
  std::memset(bytes, 0xEE, sizeof bytes);
  EncodeEntry(e, bytes);
  EXPECT_EQ(0, std::memcmp(bytes, expected, kEntrySize));

  typEntry back;
  DecodeEntry(expected, &back);
  EXPECT_EQ(FieldText(back.WindowName), "Title");
  EXPECT_EQ(FieldText(back.ClassName), "Cls");
  EXPECT_EQ(back.Action, 5);
  EXPECT_EQ(back.SearchMethod, 2);
  EXPECT_EQ(back.SetPosition, 1);
  EXPECT_EQ(back.PositionHorizontal, 0x1234u);
  EXPECT_EQ(back.PositionVertical, 0x5678u);
  EXPECT_EQ(back.SizeHorizontal, 0x9ABCu);
  EXPECT_EQ(back.SizeVertical, 0x8001FFFFu);
}

// Committed files: data files made by shell generators that share no code with the tool
// (examples/make-sample-targets.sh, golden/make-edge-targets.sh), and the exchange files that
// exporting them must give, checked by eye against the generators' tables.
std::string Golden(const std::string& name) {
  std::string path = std::string(KEEPXFER_GOLDEN_DIR) + "/" + name;
#ifdef _WIN32
  for (char& c : path) c = c == '/' ? '\\' : c;
  path = "Z:" + path;
#endif
  return path;
}

class GoldenFiles : public Exchange, public ::testing::WithParamInterface<const char*> {};

TEST_P(GoldenFiles, ExportGivesTheGoldenExchangeFile) {
  std::string data = ReadFileBytes(Golden(std::string(GetParam()) + ".DAT"));
  ASSERT_FALSE(data.empty());
  EXPECT_TRUE(Export(data) == ReadFileBytes(Golden(std::string(GetParam()) + ".INI")));
}

TEST_P(GoldenFiles, ImportGivesTheGoldenDataFile) {
  std::string ini = ReadFileBytes(Golden(std::string(GetParam()) + ".INI"));
  ASSERT_FALSE(ini.empty());
  EXPECT_TRUE(Import(ini) == ReadFileBytes(Golden(std::string(GetParam()) + ".DAT")));
}

INSTANTIATE_TEST_SUITE_P(Files, GoldenFiles, ::testing::Values("sample", "edge"));

#ifndef _WIN32
// The committed data files are what their generators write.
TEST_F(Exchange, GoldenDataFilesComeFromTheirGenerators) {
  const std::string root = std::string(KEEPXFER_GOLDEN_DIR) + "/../..";
  const std::pair<std::string, std::string> generators[] = {
      {root + "/examples/make-sample-targets.sh", "sample.DAT"},
      {root + "/tests/golden/make-edge-targets.sh", "edge.DAT"}};
  for (const auto& generator : generators) {
    std::string out = dir_ / generator.second;
    ASSERT_EQ(std::system(("sh '" + generator.first + "' '" + out + "'").c_str()), 0);
    EXPECT_TRUE(ReadFileBytes(out) ==
                ReadFileBytes(std::string(KEEPXFER_GOLDEN_DIR) + "/" + generator.second))
        << generator.first;
  }
}
#endif

TEST_F(Exchange, LoadAndSaveReproduceTheFile) {
  for (int count : {0, 1, 255, 256, 300}) {
    std::string data = BuildTargets(SampleEntries(count));
    WriteFileBytes(dat_, data);
    LoadTargets(dat_);
    EXPECT_EQ(Targets.Entries.size(), static_cast<std::size_t>(count));
    SaveTargets(dat_);
    EXPECT_EQ(ReadFileBytes(dat_), data) << count;
  }
  EXPECT_EQ(BuildTargets(SampleEntries(1)).size(), 296u);
}

TEST_F(Exchange, ShortFilesLoadWithZeros) {
  std::string data = BuildTargets(SampleEntries(3));
  WriteFileBytes(dat_, data.substr(0, 8 + 288 + 100));
  LoadTargets(dat_);
  ASSERT_EQ(Targets.Entries.size(), 3u);
  EXPECT_EQ(Targets.Entries[1].WindowName[0], data[8 + 288]);
  EXPECT_EQ(Targets.Entries[1].Action, 0);
  EXPECT_EQ(Targets.Entries[2].WindowName[0], '\0');
}

TEST_F(Exchange, BadCountsAreRangeErrors) {
  for (std::int32_t count : {-1, 7456541, INT32_MAX}) {
    WriteFileBytes(dat_, BuildTargets({}, 1, 3, count));
    try {
      LoadTargets(dat_);
      ADD_FAILURE() << count;
    } catch (const ToolError& e) {
      EXPECT_EQ(std::string(e.Kind()) + ": " + e.Message(), "ERangeError: Range check error");
    }
  }
}

TEST_F(Exchange, ExportWritesEverySection) {
  std::string ini = Export(BuildTargets({MakeEntry("", "Notepad", 1, 0, 1, 65526, 2, 300, 400),
                                         MakeEntry("A", "B", 0, 7, 0, 1, 2, 3, 4)}));
  EXPECT_EQ(ini,
            "[Documentation]\r\nActions=Maximize, Minimize, Restore, Center, Resize\r\n"
            "SearchMethods=ClassName, WindowTitleExact, WindowTitleContaining\r\n"
            "[Header]\r\nWord1=1\r\nWord3=3\r\nNumEntries=2\r\n"
            "[Entry0]\r\nWindowName=<blank>\r\nClassName=Notepad\r\nAction=Maximize\r\n"
            "SearchMethod=ClassName\r\nSetPosition=Y\r\nPositionHorizontal=65526\r\n"
            "PositionVertical=2\r\nSizeHorizontal=300\r\nSizeVertical=400\r\n"
            "[Entry1]\r\nWindowName=A\r\nClassName=B\r\nAction=0\r\nSearchMethod=7\r\n"
            "SetPosition=N\r\nPositionHorizontal=1\r\nPositionVertical=2\r\nSizeHorizontal=3\r\n"
            "SizeVertical=4\r\n");
}

TEST_F(Exchange, ExportKeepsMarkersAndForeignText) {
  WriteFileBytes(ini_,
                 "; my rules\n[Defaults]\nDefaultSizeVertical=5\n[Entry0]\n"
                 "PositionHorizontal = UseDefault\nSizeVertical=def\n[Entry7]\nX=1\n");
  Export(BuildTargets({MakeEntry("W", "C", 2, 1, 1, 9, 8, 7, 6)}));
  auto read = [this](const char* section, const char* key) {
    TIniItem item{ini_, section, key, "<absent>"};
    ReadIniItem(item);
    return item.Value;
  };
  EXPECT_EQ(read("Defaults", "DefaultSizeVertical"), "5");
  EXPECT_EQ(read("Entry0", "PositionHorizontal"), "UseDefault");
  EXPECT_EQ(read("Entry0", "SizeVertical"), "6");  // "def" is no marker
  EXPECT_EQ(read("Entry0", "PositionVertical"), "8");
  EXPECT_EQ(read("Entry7", "X"), "1");
  EXPECT_EQ(read("", "; my rules"), "<absent>");
  EXPECT_NE(ReadFileBytes(ini_).find("; my rules"), std::string::npos);
}

TEST_F(Exchange, ExportProtectsValuesThatReadingWouldChange) {
  std::string ini =
      Export(BuildTargets({MakeEntry(" padded ", "\"Untitled\"", 1, 0, 0, 0, 0, 0, 0),
                           MakeEntry("'q'", "plain \"inner\" text", 1, 0, 0, 0, 0, 0, 0)}));
  EXPECT_NE(ini.find("WindowName=\" padded \"\r\n"), std::string::npos);
  EXPECT_NE(ini.find("ClassName=\"\"Untitled\"\"\r\n"), std::string::npos);
  EXPECT_NE(ini.find("WindowName=\"'q'\"\r\n"), std::string::npos);
  EXPECT_NE(ini.find("ClassName=plain \"inner\" text\r\n"), std::string::npos);
}

TEST_F(Exchange, RoundTripsAreExact) {
  for (int count : {1, 12, 255, 300}) {
    std::string data = BuildTargets(SampleEntries(count));
    std::remove(ini_.c_str());
    Export(data);
    ImportFromIni(ini_, dat_);
    EXPECT_EQ(ReadFileBytes(dat_), data) << count;
  }
}

TEST_F(Exchange, FullWidthNamesSurvive) {
  std::string data =
      BuildTargets({MakeEntry(std::string(129, 'w'), std::string(131, 'c'), 3, 2, 1, 1, 2, 3, 4)});
  std::string ini = Export(data);
  EXPECT_NE(ini.find("WindowName=" + std::string(129, 'w') + "\r\n"), std::string::npos);
  ImportFromIni(ini_, dat_);
  EXPECT_EQ(ReadFileBytes(dat_), data);
}

TEST_F(Exchange, ImportUsesDefaultsAndMarkers) {
  std::string data = Import(std::string(kHeader) +
                            "[Entry0]\r\nWindowName=<blank>\r\nClassName=\r\nAction=maximize\r\n"
                            "SearchMethod=WindowTitleContaining\r\nSetPosition=y\r\n"
                            "PositionHorizontal=Default\r\nPositionVertical=default\r\n"
                            "SizeHorizontal=-10\r\nSizeVertical=$10\r\n");
  EXPECT_EQ(data, BuildTargets({MakeEntry("<blank>", "", 1, 2, 1, 11, 22, 65526, 16)}));
}

// Each row of the table of hand edits: the data file the import stores, or the refusal that
// names the file, the line, the section and the key, with the data file as it was.
TEST_F(Exchange, HandEditsAreStoredAsMeantOrRefusedSayingWhere) {
  const std::string sample = ReadFileBytes(Golden("sample.DAT"));
  const std::string ini = ReadFileBytes(Golden("sample.INI"));
  ASSERT_EQ(sample.size(), 8u + 12 * 288);
  for (const HandEdit& row : HandEdits()) {
    SCOPED_TRACE(row.what);
    WriteFileBytes(dat_, sample);
    WriteFileBytes(ini_, EditedText(ini, row.edits));
    std::vector<std::string> not_loaded;
    std::string outcome = "stored";
    try {
      ImportFromIni(ini_, dat_, &not_loaded);
    } catch (const ToolError& e) {
      outcome = std::string(e.Kind()) + ": " + e.Message();
    }
    if (row.kind == nullptr) {
      EXPECT_EQ(outcome, "stored");
      EXPECT_TRUE(ReadFileBytes(dat_) == StoredData(sample, row.stored));
      EXPECT_EQ(not_loaded, row.not_loaded);
    } else {
      EXPECT_EQ(outcome, std::string(row.kind) + ": " + ini_ + row.message);
      EXPECT_TRUE(ReadFileBytes(dat_) == sample);
    }
  }
}

TEST_F(Exchange, ImportFailuresLeaveTheDataFile) {
  EXPECT_EQ(ImportError("[Header]\nWord1=1\nWord3=3\nNumEntries=2\n[Entry0]\nWindowName=a\n"
                        "ClassName=b\nAction=Resize\nSearchMethod=ClassName\nSetPosition=Y\n"
                        "PositionHorizontal=1\nPositionVertical=2\nSizeHorizontal=3\n"
                        "SizeVertical=4\n"),
            "EIniFileException: " + ini_ + ": [Entry1] is missing (NumEntries is 2)");
  EXPECT_EQ(ImportError("[Header]\nWord3=3\n"),
            "EIniFileException: " + ini_ + ":1: [Header] Word1 is missing");
  // A key line without "=" holds no value: missing, on its own line.
  EXPECT_EQ(ImportError("[Header]\nWord1=1\rWord3=3\r\nNumEntries\n"),
            "EIniFileException: " + ini_ + ":4: [Header] NumEntries is missing");
  EXPECT_EQ(
      ImportError(std::string(kHeader) + "[Entry0]\nWindowName=" + std::string(130, 'x') + "\n"),
      "EConvertError: " + ini_ +
          ":11: [Entry0] WindowName: the name has 130 characters, more than the 129 that fit");
  EXPECT_EQ(ImportError(std::string(kHeader) +
                        "[Entry0]\nWindowName=w\nClassName=" + std::string(132, 'x') + "\n"),
            "EConvertError: " + ini_ +
                ":12: [Entry0] ClassName: the name has 132 characters, more than the 131 that fit");
}

TEST_F(Exchange, ImportReadsOnlyTheCountedSections) {
  std::vector<std::string> not_loaded;
  WriteFileBytes(ini_, "[Header]\nWord1=1\nWord3=3\nNumEntries=0\n[Entry0]\nbogus\n");
  EXPECT_EQ(ImportFromIni(ini_, dat_, &not_loaded), 0);
  EXPECT_EQ(ReadFileBytes(dat_), BuildTargets({}));
  EXPECT_EQ(not_loaded, std::vector<std::string>{"Entry0"});
}

// Random data files, with codes outside the named ones, come back byte for byte from an export
// and an import: all but what the exchange file does not carry (bytes behind a name's end, the
// high half of a position or size, SetPosition values beyond 0 and 1). Every other round has
// names whose bytes are all UTF-8 sequences, which the export then writes as UTF-8 so that they
// read back as they were. The files are built here byte by byte.
TEST_F(Exchange, RandomDataFilesRoundTrip) {
  const char* const pieces[] = {"a",    " ",        "\"",       "'",           "=",
                                "\x1A", "\xC2\xA0", "\xC3\x81", "\xE2\x82\xAC"};
  std::mt19937 random(2301);
  for (int round = 0; round < 16; ++round) {
    const bool utf8 = round % 2 == 1;
    const unsigned count = 1 + random() % 12;
    std::string data = std::string("\x01\x00\x03\x00", 4) + Le32(count);
    for (unsigned i = 0; i < count; ++i) {
      for (std::size_t size : {kWindowNameSize, kClassNameSize}) {
        const std::size_t length = 1 + random() % size;
        std::string name = utf8 ? "\xC3\xA9" : "";
        while (name.size() < length) {
          if (utf8) {
            const std::string piece = pieces[random() % (sizeof pieces / sizeof *pieces)];
            if (name.size() + piece.size() > size) break;
            name += piece;
          } else {
            const char c = static_cast<char>(1 + random() % 255);
            if (c != '\r' && c != '\n') name += c;
          }
        }
        data += name + std::string(size - name.size(), '\0');
      }
      data += Le32(static_cast<unsigned>(random())) + Le32(static_cast<unsigned>(random())) +
              Le32(random() % 2);
      for (int k = 0; k < 4; ++k) data += Le32(random() % 65536);
    }
    ini_ = dir_ / ("round" + std::to_string(round) + ".ini");
    const std::string ini = Export(data);
    if (utf8) {
      EXPECT_NE(ini.find("WindowName=\xC3\x83\xC2\xA9"), std::string::npos) << round;
    }
    WriteFileBytes(dat_, "");
    ImportFromIni(ini_, dat_);
    EXPECT_TRUE(ReadFileBytes(dat_) == data) << round;
  }
}

TEST_F(Exchange, LineBreaksAreRefusedOnExport) {
  for (const char* name : {"a\nb", "a\rb"}) {
    std::remove(ini_.c_str());
    try {
      Export(BuildTargets({MakeEntry("W", name, 1, 0, 0, 0, 0, 0, 0)}));
      ADD_FAILURE() << name;
    } catch (const ToolError& e) {
      EXPECT_STREQ(e.Kind(), "EIniFileException");
      EXPECT_NE(e.Message().find("ClassName in section Entry0"), std::string::npos);
    }
    // The items before it stay, and nothing of the broken value was written.
    std::string ini = ReadFileBytes(ini_);
    EXPECT_NE(ini.find("WindowName=W\r\n"), std::string::npos);
    EXPECT_EQ(ini.find("\r\nClassName="), std::string::npos);
  }
}

TEST(NameTables, CodesAndTexts) {
  std::int32_t code = 99;
  EXPECT_TRUE(ActionFromName("rESIZE", &code));
  EXPECT_EQ(code, 5);
  EXPECT_TRUE(SearchMethodFromName("WindowTitleExact", &code));
  EXPECT_EQ(code, 1);
  EXPECT_TRUE(SearchMethodFromName("-7", &code));
  EXPECT_EQ(code, -7);
  code = 99;
  EXPECT_FALSE(SearchMethodFromName("nothing", &code));
  EXPECT_FALSE(ActionFromName("", &code));
  EXPECT_EQ(code, 99);
  EXPECT_EQ(ActionName(0), "0");
  EXPECT_EQ(ActionName(-3), "-3");
  EXPECT_EQ(SearchMethodName(3), "3");
  EXPECT_TRUE(IsDefaultMarker("Defaults"));
  EXPECT_TRUE(IsDefaultMarker("useDEFAULT"));
  EXPECT_FALSE(IsDefaultMarker("Def"));
}

}  // namespace
