// Temporary directories and whole-file helpers for tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

// A fresh directory in the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir() {
    namespace fs = std::filesystem;
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      fs::path candidate = fs::temp_directory_path() / ("kxtest-" + std::to_string(random()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) path_ = candidate.generic_string();
    }
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    if (path_.empty()) return;
    std::error_code error;
    // Tests take permissions away; give them back so that everything can go.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    for (auto it = fs::recursive_directory_iterator(path_, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (!it->is_symlink()) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
      }
    }
    fs::remove_all(path_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline bool IsRegular(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// Sets an environment variable while it lives, and puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    Set(name_, value, true);
  }
  ~ScopedEnv() { Set(name_, old_, had_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  static void Set(const std::string& name, const std::string& value, bool present) {
#ifdef _WIN32
    _putenv_s(name.c_str(), present ? value.c_str() : "");
#else
    if (present) {
      setenv(name.c_str(), value.c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
#endif
  }
  std::string name_;
  std::string old_;
  bool had_ = false;
};
