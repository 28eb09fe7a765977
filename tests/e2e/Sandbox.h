// A throw-away Wine-style installation for end-to-end runs of the real
// program: a prefix with drive C:, the product's folder, the current user's
// registry and a copy of the program in a folder of its own.
//
// Two kinds of runs share one description of the cases: the native program
// in a prefix made of plain files, and Keepxfer.exe under Wine in a real Wine
// prefix (one per test run, its contents reset for every case).
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/TestFiles.h"

struct RunResult {
  std::string out;
  std::string err;
  int code = -1;  // the exit code, or 128 + the signal that ended the run
  bool timed_out = false;
};

enum class StdoutMode { kCapture, kClosed, kFull };

// A started run, for tests that signal it at a chosen moment. Signals go to its process group
// only while the run has not been reaped, so never to another process that took over its id.
class RunningProgram {
 public:
  explicit RunningProgram(pid_t pid) : pid_(pid) {}
  pid_t pid() const { return pid_; }
  // False when the run has already ended.
  bool Signal(int signal);
  // Called by the waiter just before it reaps the run.
  void MarkEnded();

 private:
  const pid_t pid_;
  std::mutex mutex_;
  bool ended_ = false;
};

struct RunOptions {
  StdoutMode stdout_mode = StdoutMode::kCapture;
  bool unprivileged = false;         // run as nobody (see WhyNotUnprivileged)
  std::vector<std::string> wrapper;  // a command to run the program under
  std::vector<std::string> env;      // more NAME=value settings
  std::string stdin_path;            // standard input; /dev/null when empty
  int timeout_seconds = 60;          // then the run and everything it started are killed
  // Called once the run has started.
  std::function<void(std::shared_ptr<RunningProgram>)> on_start;
};

enum class Flavour { kNative, kWine };

inline void PrintTo(Flavour flavour, std::ostream* out) {
  *out << (flavour == Flavour::kNative ? "native" : "Windows program under Wine");
}

class Sandbox {
 public:
  explicit Sandbox(Flavour flavour = Flavour::kNative);
  ~Sandbox();

  // Empty when this kind of run is possible here, else why not.
  static std::string Unavailable(Flavour flavour);

  Flavour flavour() const { return flavour_; }
  std::string Prefix() const { return prefix_; }
  std::string ProductDir() const { return prefix_ + "/drive_c/Program Files/Framekeep"; }
  std::string DataFile() const { return ProductDir() + "/Targets.DAT"; }
  std::string ProgramDir() const { return program_dir_; }
  std::string Program() const { return program_; }
  std::string Root() const { return dir_.path(); }

  // Names as the program shows them.
  std::string ShownProgramDir() const;
  std::string Shown(const std::string& name) const;  // a file in the program's folder
  std::string DefaultIni() const;                    // the default exchange file, as shown
  std::string ModuleName() const;
  // An absolute name the program is given, and where that file is here.
  std::string AbsoluteName(const std::string& name) const;
  std::string AbsoluteHostPath(const std::string& name) const;

  // The install record: a string value, a number, an empty binary value, or none.
  void SetInstallDir(const std::string& windowsPath);
  void SetInstallNumber(unsigned value);
  void SetInstallEmptyBinary();
  void RemoveInstall();
  // Native runs only: user.reg as given.
  void WriteRegistry(const std::string& text);

  void WriteData(const std::string& bytes) const { WriteFileBytes(DataFile(), bytes); }
  std::string ReadData() const { return ReadFileBytes(DataFile()); }

  RunResult Run(const std::vector<std::string>& args, const RunOptions& options = {}) const;

  // Has Wine write its registry to user.reg: the shared prefix's server restarted as the test
  // run's set-up started it (Wine runs only).
  void FlushWineRegistry() const;

  // Wine runs only. From now on every run of this sandbox is nobody's, in a prefix of nobody's
  // own (Wine refuses a prefix that is not the user's): the shared one's folders anew, its files
  // hard links, which nobody may read but not change, and its registry copied. The program and
  // the installation folder start empty again. Empty when done, else why it cannot be.
  std::string MoveToNobodysPrefix();
  // Wine runs only: the folder that an environment variable of the prefix's user names (TEMP,
  // LOCALAPPDATA), as a path here.
  std::string WineFolder(const std::string& variable) const;

 private:
  // Runs a Wine tool (the loader with a program, or the server) in this sandbox's prefix, as
  // its user.
  void WineTool(const std::vector<std::string>& command, const std::string& out_path) const;
  void WineReg(const std::vector<std::string>& args) const;
  // How a command runs as this sandbox's user: nothing, or setpriv's arguments for nobody, in
  // the sandbox's own folder.
  std::vector<std::string> AsUser(bool unprivileged) const;
  void MakeProgramDirs();

  Flavour flavour_;
  bool nobodys_ = false;
  TempDir dir_;
  std::string prefix_;
  std::string program_dir_;
  std::string program_;
};

// The Wine loader that runs the tested Keepxfer.exe, as cmake/wine-probe.sh named it: the 32-bit
// one for the shipped 32-bit program, or the 64-bit one for a 64-bit build on a machine that runs
// no 32-bit programs. Empty without Wine.
std::string WineLoader();

// Runs argv with the given environment additions, its output into files, in a process group of
// its own that is killed when it takes longer than the options allow. The exit code, or 128 +
// the signal that ended it.
int Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const RunOptions& options, const std::string& out_path, const std::string& err_path,
          bool* timed_out);

// "Exception <kind> in module <module> at XXXXXXXX." and the message line,
// as "<kind>: <message>", or a note of what else came.
std::string ReportOf(const std::string& err, const std::string& module);

// Empty when the tests may run the program as the unprivileged user nobody (root with setpriv, and
// a temporary folder that nobody can reach, where the program and what it loads are copied);
// else why not.
std::string WhyNotUnprivileged();

// True when the tests may run the program in a private mount namespace.
bool CanUseMountNamespace();

// Options that run the program in a private mount namespace where `dir` is a
// tmpfs of `size` (e.g. "16k"). `setup` runs before the program and
// `teardown` after it (shell commands), both inside the namespace; the
// program's exit code is kept.
RunOptions InSmallTmpfs(const std::string& dir, const std::string& size, const std::string& setup,
                        const std::string& teardown);

// A small file system of its own (a tmpfs of `size`, e.g. "16k") mounted on the folder `dir`
// while this lives, for every process of the machine to see (the Wine server too), so that a disk
// fills at a known size.
class SmallDisk {
 public:
  SmallDisk(const std::string& dir, const std::string& size);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }
  // Empty when this machine lets the tests mount one (root), else why not.
  static std::string WhyNot();

 private:
  std::string dir_;
  bool mounted_ = false;
};

// Options that place a fault at an exact system call of the native program (see
// fault-interposer.cpp): `fault` is <call>:<nth>:<action>[:<path part>].
RunOptions WithFault(const std::string& fault);

// For the fault action "pause": the program waits at the call until the test lets it go on.
class FaultPause {
 public:
  explicit FaultPause(const std::string& dir);  // makes the two pipes in `dir`
  RunOptions Options(const std::string& fault) const;
  bool AwaitReached();  // true once the program is at the call; false after 30 s without
  void Resume();        // lets it go on

 private:
  std::string dir_;
};

// Escapes a value for a Wine registry string.
std::string RegistryString(const std::string& text);

// A path of this system as Wine shows it, on drive Z:.
std::string WindowsPathOf(const std::string& path);

// A Windows program run under Wine in the prefix of `wine` in the background, until it ends by
// itself: started with `args` (the program first), one of which names the file `ready` (a path of
// this system) that the program makes once it is where the test wants it.
class BackgroundWineProgram {
 public:
  BackgroundWineProgram(const Sandbox& wine, const std::vector<std::string>& args,
                        const std::string& ready);
  ~BackgroundWineProgram();
  BackgroundWineProgram(const BackgroundWineProgram&) = delete;
  BackgroundWineProgram& operator=(const BackgroundWineProgram&) = delete;

  bool ready() const { return ready_; }
  // Waits for the program's end; its exit code.
  int Wait();

 private:
  std::thread thread_;
  int code_ = -1;
  bool ready_ = false;
  bool joined_ = false;
};

// The Windows profile functions, the oracle of what an INI file holds (profile-driver.exe).
namespace profile_driver {

std::string Hex(const std::string& bytes);  // "-" for none
std::string Unhex(const std::string& text);

// Each item (section, key) of the INI file `file` (a Windows name) as GetPrivateProfileStringA
// reads it in `wine`'s prefix: the value, or "<absent>".
std::vector<std::string> Read(const Sandbox& wine, const std::string& file,
                              const std::vector<std::pair<std::string, std::string>>& items);

}  // namespace profile_driver
