// A throw-away Wine-style installation for end-to-end runs of the real
// program: a prefix with drive C:, the product's folder, the current user's
// registry file and a copy of the program in a folder of its own.
#pragma once

#include <string>
#include <vector>

#include "tests/TestFiles.h"

struct RunResult {
  std::string out;
  std::string err;
  int code = -1;
};

enum class StdoutMode { kCapture, kClosed, kFull };

struct RunOptions {
  StdoutMode stdout_mode = StdoutMode::kCapture;
  bool unprivileged = false;         // run as nobody (needs root and setpriv)
  std::vector<std::string> wrapper;  // a command to run the program under
};

class Sandbox {
 public:
  Sandbox();

  std::string Prefix() const { return dir_ / "prefix"; }
  std::string ProductDir() const { return Prefix() + "/drive_c/Program Files/Framekeep"; }
  std::string DataFile() const { return ProductDir() + "/Targets.DAT"; }
  std::string ProgramDir() const { return dir_ / "bin"; }
  std::string Program() const { return ProgramDir() + "/keepxfer"; }
  std::string Root() const { return dir_.path(); }

  // Writes user.reg with "InstallDir" set to `data` (the text after "=").
  void SetInstallValue(const std::string& data);
  void SetInstallDir(const std::string& windowsPath);  // a plain string value
  void WriteRegistry(const std::string& text);
  void WriteData(const std::string& bytes) const { WriteFileBytes(DataFile(), bytes); }
  std::string ReadData() const { return ReadFileBytes(DataFile()); }

  RunResult Run(const std::vector<std::string>& args, const RunOptions& options = {}) const;

 private:
  TempDir dir_;
};

// True when the tests may switch to an unprivileged user (root with setpriv).
bool CanRunUnprivileged();

// Escapes a value for a Wine registry string.
std::string RegistryString(const std::string& text);

// True when the tests may run the program in a private mount namespace.
bool CanUseMountNamespace();

// Options that run the program in a private mount namespace where `dir` is a
// tmpfs of `size` (e.g. "16k"). `setup` runs before the program and
// `teardown` after it (shell commands), both inside the namespace; the
// program's exit code is kept.
RunOptions InSmallTmpfs(const std::string& dir, const std::string& size, const std::string& setup,
                        const std::string& teardown);
