// Copies of Targets.DAT, against both programs: the one that every import keeps of the file it
// replaces, in the user's folder of copies; -Bak's, in every mode that finds the data file; and a
// copy imported again, which gives back its bytes. What is refused changes nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/TargetsBuilder.h"
#include "tests/e2e/ProgramsTest.h"
#include "tests/e2e/Sandbox.h"

namespace fs = std::filesystem;

namespace {

const std::string kBanner = "\r\nFramekeep Export/Import 1.32  https://framekeep.example/\r\n";
const std::string kInstall = "C:\\Program Files\\Framekeep";

// Targets-YYYYMMDD-HHMMSS.DAT, or with -N (N from 2) before the extension.
bool IsCopyName(const std::string& name) {
  const auto digits = [&name](std::size_t from, std::size_t count) {
    return name.size() >= from + count &&
           name.find_first_not_of("0123456789", from) >= from + count;
  };
  if (name.rfind("Targets-", 0) != 0 || !digits(8, 8) || name.compare(16, 1, "-") != 0 ||
      !digits(17, 6)) {
    return false;
  }
  std::string rest = name.substr(23);
  if (rest.size() > 5 && rest[0] == '-' && rest[1] != '0' && digits(24, rest.size() - 5)) {
    rest = rest.substr(rest.size() - 4);
  }
  return rest == ".DAT";
}

class Copies : public ProgramsTest {
 protected:
  void SetUp() override {
    ProgramsTest::SetUp();
    if (IsSkipped()) return;
    sb_->SetInstallDir(kInstall);
    sb_->WriteData(old_);
    WriteFileBytes(sb_->ProgramDir() + "/a.DAT", a_);
    WriteFileBytes(sb_->ProgramDir() + "/in.ini", ReadFileBytes(KEEPXFER_GOLDEN_DIR "/sample.INI"));
    // Under Wine, the prefix and its folder of copies are every test's.
    folder_ = Native() ? sb_->Root() + "/home/.local/state/keepxfer/backups"
                       : sb_->WineFolder("LOCALAPPDATA") + "/Keepxfer/Backups";
    fs::remove_all(folder_);
  }
  RunResult Import(const std::string& file) { return sb_->Run({"-imp", "-fil=" + file}); }
  std::string Loaded(int count, const std::string& shown) const {
    return std::to_string(count) + " entries loaded from " + shown + ".\r\n";
  }

  const std::string old_ = BuildTargets(SampleEntries(20));
  const std::string a_ = BuildTargets(SampleEntries(7));
  std::string folder_;
};

// Each import keeps the file it replaced, byte for byte, with its output as it always was, and the
// one that makes 21 copies removes the oldest by the time in its name; an import of a copy gives
// its bytes back. Other files in the folder stay.
TEST_P(Copies, EveryImportKeepsTheFileItReplaced) {
  fs::create_directories(folder_);
  std::set<std::string> older;
  for (int second = 10; second < 29; ++second) {
    older.insert("Targets-20000101-0000" + std::to_string(second) + ".DAT");
  }
  for (const std::string& name : older) WriteFileBytes(folder_ + "/" + name, "older");
  WriteFileBytes(folder_ + "/notes.txt", "older");
  EXPECT_EQ(Import("a.DAT").out, kBanner + Loaded(7, sb_->Shown("a.DAT")));
  EXPECT_EQ(Import("in.ini").out, kBanner + Loaded(12, sb_->Shown("in.ini")));
  std::string copy_of_old;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    if (ReadFileBytes(entry.path().string()) == old_) copy_of_old = entry.path().string();
  }
  const std::string name = Native() ? copy_of_old : WindowsPathOf(copy_of_old);
  EXPECT_EQ(Import(name).out, kBanner + Loaded(20, name));
  EXPECT_TRUE(sb_->ReadData() == old_);

  std::multiset<std::string> kept;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    const std::string file = entry.path().filename().string();
    const std::string bytes = ReadFileBytes(entry.path().string());
    if (bytes != "older") {
      kept.insert(bytes);
      EXPECT_TRUE(IsCopyName(file)) << file;
    } else if (file != "notes.txt") {
      EXPECT_EQ(older.erase(file), 1u) << file;
    }
  }
  EXPECT_TRUE(kept == (std::multiset<std::string>{
                          old_, a_, ReadFileBytes(KEEPXFER_GOLDEN_DIR "/sample.DAT")}));
  EXPECT_EQ(older,
            (std::set<std::string>{"Targets-20000101-000010.DAT", "Targets-20000101-000011.DAT"}));
}

// -Bak saves Targets.DAT as the run found it, in every mode that finds it, and says so before the
// mode's own output; an import of that file gives back its bytes. The long help writes nothing.
TEST_P(Copies, BakSavesTheDataFileInEveryMode) {
  const std::string mine = sb_->ProgramDir() + "/mine.DAT";
  const std::string saved = "  Targets.DAT saved to " + sb_->Shown("mine.DAT") + "\r\n";
  const std::string absolute = sb_->AbsoluteName("abs.DAT");
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string file;  // where the copy is, if anywhere
  } cases[] = {
      {{"-Bak=mine.DAT"},
       kBanner + "  Location: " + kInstall + "\r\n  Targets.DAT version: OK\r\n" + saved,
       mine},
      {{"-?", "-Bak=mine.DAT"},
       kBanner + "Usage: Keepxfer [-Exp[ort]|-Imp[ort] [-Fil=Filename]] [-Bak=FileName] [-?] " +
           "[-Hlp]\r\n" + saved,
       mine},
      {{"-Exp", "-Fil=out.ini", "-Bak=" + absolute},
       kBanner + "  Targets.DAT saved to " + absolute + "\r\n20 entries saved to " +
           sb_->Shown("out.ini") + "\r\n",
       sb_->AbsoluteHostPath("abs.DAT")},
      {{"-Imp", "-Fil=a.DAT", "-Bak=mine.DAT"},
       kBanner + saved + Loaded(7, sb_->Shown("a.DAT")),
       mine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    sb_->WriteData(old_);
    unlink(c.file.c_str());
    EXPECT_EQ(sb_->Run(c.args).out, c.out);
    EXPECT_TRUE(ReadFileBytes(c.file) == old_);
  }
  EXPECT_EQ(Import("mine.DAT").out, kBanner + Loaded(20, sb_->Shown("mine.DAT")));
  EXPECT_TRUE(sb_->ReadData() == old_);
  unlink(mine.c_str());
  EXPECT_EQ(sb_->Run({"-Hlp", "-Bak=mine.DAT"}).code, 0);
  EXPECT_FALSE(IsRegular(mine));
}

// A damaged copy, a -Bak that names Targets.DAT or the exchange file, and folders of copies that
// cannot be written (files in their place) stop the run before anything is written.
TEST_P(Copies, RefusalsChangeNothing) {
  WriteFileBytes(sb_->ProgramDir() + "/cut.DAT", old_.substr(0, old_.size() - 1));
  const std::string data = Native() ? sb_->DataFile() : "C:\\PROGRAM FILES\\framekeep\\targets.dat";
  const std::string unable = "EInOutError: Unable to save Targets.DAT to ";
  const std::string temp = Native() ? sb_->Root() + "/tmp" : sb_->WineFolder("TEMP");
  const std::vector<std::string> blocked = {
      folder_, temp + (Native() ? "/keepxfer-" + std::to_string(geteuid()) + "/backups"
                                : "/Keepxfer/Backups")};
  RunOptions in_temp;
  if (Native()) in_temp.env = {"TMPDIR=" + temp};
  struct Case {
    std::vector<std::string> args;
    std::string report;
    bool block = false;
  } cases[] = {
      {{"-Imp", "-Fil=cut.DAT"},
       "EConvertError: " + sb_->Shown("cut.DAT") +
           ": a data file of 20 entries has 5768 bytes, this one has 5767."},
      {{"-Imp", "-Fil=a.DAT", "-Bak=" + data}, unable + data + ": it is Targets.DAT itself."},
      {{"-Exp", "-Fil=out.ini", "-Bak=out.ini"},
       unable + sb_->Shown("out.ini") + ": it is the exchange file."},
      {{"-Imp", "-Fil=a.DAT"},
       Native() ? "EInOutError: I/O error 20." : "EInOutError: I/O error 3.",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    for (const std::string& file : blocked) {
      fs::remove_all(file);
      fs::create_directories(fs::path(file).parent_path());
      if (c.block) WriteFileBytes(file, "");
    }
    RunResult r = sb_->Run(c.args, in_temp);
    for (const std::string& file : blocked) fs::remove(file);  // the Wine prefix is every test's
    EXPECT_EQ(r.out, kBanner);
    EXPECT_EQ(Report(r), c.report);
    EXPECT_TRUE(sb_->ReadData() == old_);
    EXPECT_FALSE(fs::exists(folder_) || IsRegular(sb_->ProgramDir() + "/out.ini"));
    EXPECT_EQ(std::distance(fs::directory_iterator(sb_->ProductDir()), {}), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, Copies, ::testing::Values(Flavour::kNative, Flavour::kWine),
                         [](const ::testing::TestParamInfo<Flavour>& info) {
                           return info.param == Flavour::kNative ? std::string("Native")
                                                                 : std::string("Wine");
                         });

}  // namespace
