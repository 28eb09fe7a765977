// A product folder with a data file in a throw-away folder, and the journal folder of the run
// there too, for the tests of the data file's layer in both builds.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/files.h"
#include "tests/TestFiles.h"

class DataFileFixture : public ::testing::Test {
 protected:
  static inline const std::string kOld = std::string("\x01\x00\x03\x00", 4) + std::string(292, 'o');
  static inline const std::string kNew = std::string("\x01\x00\x03\x00", 4) + std::string(580, 'n');

  void SetUp() override {
    std::filesystem::create_directories(product_);
    WriteFileBytes(data_, kOld);
  }

  void Save(const std::string& bytes) {
    DataFilePin pin(data_);
    ReplaceDataFile(pin, bytes);
  }
  std::string Load() { return Load(data_); }
  static std::string Load(const std::string& name) {
    DataFilePin pin(name);
    DataFile file(pin, FileAccess::kRead);
    std::string bytes(4096, '\0');
    bytes.resize(file.Read(&bytes[0], bytes.size()));
    return bytes;
  }
  // The names in the product folder.
  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(product_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  TempDir dir_;
#ifdef _WIN32
  ScopedEnv journals_{"LOCALAPPDATA", dir_ / "state"};
#else
  ScopedEnv journals_{"XDG_STATE_HOME", dir_ / "state"};
#endif
  std::string product_ = dir_ / "Framekeep";
  std::string data_ = product_ + "/Targets.DAT";
};
