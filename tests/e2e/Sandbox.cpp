#include "tests/e2e/Sandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include "tests/Processes.h"

#ifndef KEEPXFER_BINARY
#error "KEEPXFER_BINARY must name the native program under test"
#endif
#ifndef KEEPXFER_EXE
#define KEEPXFER_EXE ""
#endif
#ifndef KEEPXFER_FAULT_INTERPOSER
#define KEEPXFER_FAULT_INTERPOSER ""
#endif
#ifndef KEEPXFER_WINE_LOADER
#define KEEPXFER_WINE_LOADER ""
#endif
#ifndef KEEPXFER_WINE_PREFIX_SCRIPT
#define KEEPXFER_WINE_PREFIX_SCRIPT ""
#endif
#ifndef KEEPXFER_PROFILE_DRIVER
#define KEEPXFER_PROFILE_DRIVER ""
#endif

namespace {

const char* const kWineServer = "/usr/lib/wine/wineserver";

void Check(bool ok, const char* what) {
  if (!ok) {
    std::perror(what);
    std::abort();
  }
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

void Shell(const std::string& command) {
  Check(std::system(command.c_str()) == 0, command.c_str());
}

// The Windows program of this build tree, never a copy from elsewhere.
std::string WindowsExe() { return KEEPXFER_EXE; }

// The shared Wine prefix of this test run: KEEPXFER_WINEPREFIX, made by the
// run's set-up step.
std::string SharedWinePrefix() {
  const char* prefix = std::getenv("KEEPXFER_WINEPREFIX");
  return prefix && *prefix ? prefix : "";
}

}  // namespace

std::string WineLoader() { return KEEPXFER_WINE_LOADER; }

int Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const RunOptions& options, const std::string& out_path, const std::string& err_path,
          bool* timed_out) {
  pid_t pid = fork();
  Check(pid >= 0, "fork");
  if (pid == 0) {
    // A group of its own, so that a run that hangs goes with everything it started.
    setpgid(0, 0);
    DefaultSignalsForChild();
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(err, 2);
    if (options.stdout_mode == StdoutMode::kClosed) {
      close(1);
    } else {
      int out = options.stdout_mode == StdoutMode::kFull
                    ? open("/dev/full", O_WRONLY)
                    : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      dup2(out, 1);
    }
    int in = open(options.stdin_path.empty() ? "/dev/null" : options.stdin_path.c_str(), O_RDONLY);
    dup2(in, 0);
    for (const std::string& setting : env) putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> raw;
    for (const std::string& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    execvp(raw[0], raw.data());
    _exit(127);
  }
  setpgid(pid, pid);
  auto running = std::make_shared<RunningProgram>(pid);
  if (options.on_start) options.on_start(running);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(options.timeout_seconds);
  std::chrono::microseconds pause(100);
  int status = 0;
  for (;;) {
    // Looked at without reaping it, so that its id stays its own until it is marked ended.
    siginfo_t info{};
    int waited = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    Check(waited == 0 || errno == EINTR, "waitid");
    if (waited == 0 && info.si_pid == pid) break;
    if (Clock::now() >= deadline) {
      running->Signal(SIGKILL);
      if (timed_out != nullptr) *timed_out = true;
      waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
      break;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(5000));
  }
  running->MarkEnded();
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool RunningProgram::Signal(int signal) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ended_) return false;
  kill(-pid_, signal);
  return true;
}

void RunningProgram::MarkEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
}

std::string Sandbox::Unavailable(Flavour flavour) {
  if (flavour == Flavour::kNative) return "";
  if (WineLoader().empty()) return "Wine is not installed (cmake/wine-probe.sh found no loader)";
  if (WindowsExe().empty() || access(WindowsExe().c_str(), R_OK) != 0) {
    return "Keepxfer.exe is not built (build it with the windows preset)";
  }
  if (SharedWinePrefix().empty()) return "no Wine prefix was prepared for this run";
  return "";
}

Sandbox::Sandbox(Flavour flavour) : flavour_(flavour) {
  if (flavour_ == Flavour::kNative) {
    prefix_ = dir_ / "prefix";
    program_dir_ = dir_ / "bin";
    program_ = program_dir_ + "/keepxfer";
    Shell("mkdir -p " + Quoted(ProductDir()) + " " + Quoted(prefix_ + "/dosdevices") + " " +
          Quoted(program_dir_) + " " + Quoted(Root() + "/home"));
    Check(symlink("../drive_c", (prefix_ + "/dosdevices/c:").c_str()) == 0, "symlink");
    Shell("cp '" KEEPXFER_BINARY "' " + Quoted(program_));
    // Let an unprivileged run reach the files it is meant to.
    Shell("chmod -R a+rwX " + Quoted(Root()));
    return;
  }
  prefix_ = SharedWinePrefix();
  MakeProgramDirs();
  RemoveInstall();
}

void Sandbox::MakeProgramDirs() {
  program_dir_ = prefix_ + "/drive_c/Tools";
  program_ = program_dir_ + "/Keepxfer.exe";
  Shell("rm -rf " + Quoted(ProductDir()) + " " + Quoted(program_dir_) + " " +
        Quoted(prefix_ + "/drive_c/abs") + " && mkdir -p " + Quoted(ProductDir()) + " " +
        Quoted(program_dir_) + " && cp " + Quoted(WindowsExe()) + " " + Quoted(program_) +
        " && chmod 0755 " + Quoted(program_));
}

std::string Sandbox::MoveToNobodysPrefix() {
  Check(flavour_ == Flavour::kWine, "MoveToNobodysPrefix is for Wine runs");
  const std::string why = WhyNotUnprivileged();
  if (!why.empty()) return why;
  const std::string own = dir_ / "nobodys-prefix";
  if (std::system(("cp -al " + Quoted(prefix_) + " " + Quoted(own) + " 2>/dev/null").c_str()) !=
      0) {
    return "the Wine prefix cannot be hard-linked into the temporary folder (another file system)";
  }
  // The shared prefix's server lock and registry are its own; nobody gets copies.
  Shell("cd " + Quoted(own) + " && rm -f wineserver *.reg .update-timestamp && cp -p " +
        Quoted(prefix_) + "/*.reg " + Quoted(prefix_) + "/.update-timestamp . && " +
        "find . -type d -exec chown -h 65534:65534 {} + && " +
        "chown 65534:65534 *.reg .update-timestamp && chmod 0755 " + Quoted(Root()));
  prefix_ = own;
  nobodys_ = true;
  MakeProgramDirs();
  RemoveInstall();
  return "";
}

std::string Sandbox::WineFolder(const std::string& variable) const {
  WineTool({WineLoader(), "cmd.exe", "/c", "echo %" + variable + "%"}, dir_ / "folder.out");
  const std::string shown = ReadFileBytes(dir_ / "folder.out");
  std::smatch m;
  Check(std::regex_search(shown, m, std::regex("^[Cc]:\\\\([^\r\n]*)")), "a folder on drive C:");
  std::string path = prefix_ + "/drive_c/" + m[1].str();
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

Sandbox::~Sandbox() {
  if (flavour_ != Flavour::kWine) return;
  std::system(("chmod -R u+w " + Quoted(ProductDir())).c_str());
  if (nobodys_) {
    // Nobody's server goes first; then the hard links, before anything could change the modes
    // of the files they share with the shared prefix.
    WineTool({kWineServer, "-k"}, "/dev/null");
    std::system(("rm -rf " + Quoted(prefix_)).c_str());
  }
}

std::vector<std::string> Sandbox::AsUser(bool unprivileged) const {
  if (!unprivileged && !nobodys_) return {};
  // The working folder is the sandbox's, which the user nobody can enter: the build tree may
  // lie in a home that only its owner may enter (a clone under /root), and Wine says so on
  // standard error.
  const std::string folder = "--chdir=" + Root();
  return {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "env", folder};
}

std::string Sandbox::ShownProgramDir() const {
  return flavour_ == Flavour::kNative ? program_dir_ : "C:\\Tools";
}

std::string Sandbox::Shown(const std::string& name) const {
  return ShownProgramDir() + (flavour_ == Flavour::kNative ? "/" : "\\") + name;
}

std::string Sandbox::DefaultIni() const {
  return Shown(flavour_ == Flavour::kNative ? "keepxfer.INI" : "Keepxfer.INI");
}

std::string Sandbox::ModuleName() const {
  return flavour_ == Flavour::kNative ? "keepxfer" : "Keepxfer.exe";
}

std::string Sandbox::AbsoluteName(const std::string& name) const {
  return flavour_ == Flavour::kNative ? Root() + "/abs/" + name : "C:\\abs\\" + name;
}

std::string Sandbox::AbsoluteHostPath(const std::string& name) const {
  std::string dir = flavour_ == Flavour::kNative ? Root() + "/abs" : prefix_ + "/drive_c/abs";
  Shell("mkdir -p " + Quoted(dir));
  return dir + "/" + name;
}

void Sandbox::WineTool(const std::vector<std::string>& command, const std::string& out_path) const {
  std::vector<std::string> argv = AsUser(false);
  argv.insert(argv.end(), command.begin(), command.end());
  Spawn(argv, {"WINEPREFIX=" + prefix_, "HOME=" + Root() + "/home", "WINEDEBUG=-all"}, {}, out_path,
        dir_ / "tool.err", nullptr);
}

void Sandbox::WineReg(const std::vector<std::string>& args) const {
  std::vector<std::string> command = {WineLoader(), "reg"};
  command.insert(command.end(), args.begin(), args.end());
  WineTool(command, dir_ / "reg.out");
}

void Sandbox::WriteRegistry(const std::string& text) {
  Check(flavour_ == Flavour::kNative, "WriteRegistry is for native runs");
  WriteFileBytes(prefix_ + "/user.reg", text);
}

namespace {

std::string UserReg(const std::string& data) {
  return "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
         "#arch=win64\n\n[Software\\\\Framekeep\\\\Install] 1700000000\n#time=1da0c0de0a0b0c0\n"
         "\"InstallDir\"=" +
         data + "\n";
}

const char* const kInstallKey = "HKCU\\Software\\Framekeep\\Install";

}  // namespace

void Sandbox::SetInstallDir(const std::string& windowsPath) {
  if (flavour_ == Flavour::kNative) return WriteRegistry(UserReg(RegistryString(windowsPath)));
  WineReg({"add", kInstallKey, "/v", "InstallDir", "/t", "REG_SZ", "/d", windowsPath, "/f"});
}

void Sandbox::SetInstallNumber(unsigned value) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08x", value);
  if (flavour_ == Flavour::kNative) return WriteRegistry(UserReg(std::string("dword:") + hex));
  WineReg({"add", kInstallKey, "/v", "InstallDir", "/t", "REG_DWORD", "/d", std::to_string(value),
           "/f"});
}

void Sandbox::SetInstallEmptyBinary() {
  if (flavour_ == Flavour::kNative) return WriteRegistry(UserReg("hex:"));
  WineReg({"add", kInstallKey, "/v", "InstallDir", "/t", "REG_BINARY", "/f"});
}

void Sandbox::RemoveInstall() {
  if (flavour_ == Flavour::kNative) {
    unlink((prefix_ + "/user.reg").c_str());
    return;
  }
  WineReg({"delete", "HKCU\\Software\\Framekeep", "/f"});
}

void Sandbox::FlushWineRegistry() const {
  Check(!nobodys_, "FlushWineRegistry is for the shared prefix");
  Spawn({"sh", KEEPXFER_WINE_PREFIX_SCRIPT, "restart", prefix_, program_, WineLoader()}, {}, {},
        "/dev/null", "/dev/null", nullptr);
}

RunResult Sandbox::Run(const std::vector<std::string>& args, const RunOptions& options) const {
  std::vector<std::string> argv = AsUser(options.unprivileged);
  argv.insert(argv.end(), options.wrapper.begin(), options.wrapper.end());
  if (flavour_ == Flavour::kWine) argv.push_back(WineLoader());
  argv.push_back(program_);
  argv.insert(argv.end(), args.begin(), args.end());
  // The tool's own folders are the sandbox's, in its home, whatever the test run's are.
  std::vector<std::string> env = {"WINEPREFIX=" + prefix_, "HOME=" + Root() + "/home",
                                  "XDG_STATE_HOME=", "WINEDEBUG=-all"};
  env.insert(env.end(), options.env.begin(), options.env.end());
  RunResult result;
  // Runs of one sandbox may go on at once: each has output files of its own.
  static std::atomic<int> runs{0};
  const std::string run = std::to_string(runs++);
  std::string out_path = dir_ / ("stdout." + run);
  std::string err_path = dir_ / ("stderr." + run);
  result.code = Spawn(argv, env, options, out_path, err_path, &result.timed_out);
  result.out = options.stdout_mode == StdoutMode::kCapture ? ReadFileBytes(out_path) : "";
  result.err = ReadFileBytes(err_path);
  return result;
}

std::string ReportOf(const std::string& err, const std::string& module) {
  const std::regex report("Exception (\\w+) in module " + module +
                          " at [0-9A-F]{8}\\.\r\n([^\r\n]*)\r\n\r\n");
  std::smatch m;
  if (!std::regex_match(err, m, report)) return "not a report: " + err;
  return m[1].str() + ": " + m[2].str();
}

std::string RegistryString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

namespace {

// A copy of the fault interposer in a folder of its own in the temporary folder, where a run as
// another user can load it too: the build tree may lie in a home that only its owner may enter.
const std::string& InterposerCopy() {
  static TempDir dir;
  static const std::string path = [] {
    std::string copy = dir / "kx_fault_interposer.so";
    Shell("cp '" KEEPXFER_FAULT_INTERPOSER "' " + Quoted(copy) + " && chmod 0755 " +
          Quoted(dir.path()) + " " + Quoted(copy));
    return copy;
  }();
  return path;
}

}  // namespace

std::string WhyNotUnprivileged() {
  const std::string as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  if (geteuid() != 0) return "needs root to run as another user";
  if (std::system((as_nobody + "true >/dev/null 2>&1").c_str()) != 0) {
    return "needs setpriv to run as another user";
  }
  // The program and the interposer are copied into the temporary folder for such runs.
  if (std::system((as_nobody + "test -r " + Quoted(InterposerCopy())).c_str()) != 0) {
    return "the user nobody cannot reach the temporary folder " +
           std::filesystem::temp_directory_path().string();
  }
  return "";
}

bool CanUseMountNamespace() {
  return geteuid() == 0 && std::system("unshare -m true >/dev/null 2>&1") == 0;
}

SmallDisk::SmallDisk(const std::string& dir, const std::string& size) : dir_(dir) {
  mounted_ = std::system(("mkdir -p " + Quoted(dir) + " && mount -t tmpfs -o size=" + size +
                          " tmpfs " + Quoted(dir))
                             .c_str()) == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) std::system(("umount " + Quoted(dir_) + " || umount -l " + Quoted(dir_)).c_str());
}

std::string SmallDisk::WhyNot() {
  if (geteuid() != 0) return "needs root to mount a small file system";
  return "";
}

RunOptions InSmallTmpfs(const std::string& dir, const std::string& size, const std::string& setup,
                        const std::string& teardown) {
  RunOptions options;
  options.wrapper = {"unshare",
                     "-m",
                     "sh",
                     "-c",
                     "mount -t tmpfs -o size=" + size + " tmpfs '" + dir + "' || exit 99\n" +
                         setup + "\n\"$@\"; rc=$?\n" + teardown + "\nexit $rc",
                     "sh"};
  return options;
}

RunOptions WithFault(const std::string& fault) {
  RunOptions options;
  // A sanitized program wants its run time first; the interposer only wraps a few calls.
  const char* asan = std::getenv("ASAN_OPTIONS");
  options.env = {"LD_PRELOAD=" + InterposerCopy(), "KX_FAULT=" + fault,
                 std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
  return options;
}

FaultPause::FaultPause(const std::string& dir) : dir_(dir) {
  Check(mkfifo((dir_ + "/reached").c_str(), 0600) == 0, "mkfifo");
  Check(mkfifo((dir_ + "/resume").c_str(), 0600) == 0, "mkfifo");
}

RunOptions FaultPause::Options(const std::string& fault) const {
  RunOptions options = WithFault(fault);
  options.env.push_back("KX_FAULT_DIR=" + dir_);
  return options;
}

bool FaultPause::AwaitReached() {
  // Opened without waiting for the program, which may never come to the call.
  int fd = open((dir_ + "/reached").c_str(), O_RDONLY | O_NONBLOCK);
  Check(fd >= 0, "open reached");
  char byte;
  bool reached = false;
  for (int tenth = 0; tenth < 300 && !reached; ++tenth) {
    reached = read(fd, &byte, 1) == 1;
    if (!reached) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  close(fd);
  return reached;
}

void FaultPause::Resume() {
  // Opened without waiting, and written once the program has it open for reading.
  int fd = -1;
  for (int tenth = 0; tenth < 300 && fd < 0; ++tenth) {
    fd = open((dir_ + "/resume").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  char byte = 1;
  Check(fd >= 0 && write(fd, &byte, 1) == 1, "resume");
  close(fd);
}

std::string WindowsPathOf(const std::string& path) {
  std::string out = "Z:";
  for (char c : path) out += c == '/' ? '\\' : c;
  return out;
}

BackgroundWineProgram::BackgroundWineProgram(const Sandbox& wine,
                                             const std::vector<std::string>& args,
                                             const std::string& ready) {
  std::vector<std::string> argv = {WineLoader()};
  argv.insert(argv.end(), args.begin(), args.end());
  const std::string prefix = wine.Prefix();
  const std::string out = ready + ".out";
  thread_ = std::thread([this, argv, prefix, out] {
    RunOptions options;
    options.timeout_seconds = 120;
    code_ = Spawn(argv, {"WINEPREFIX=" + prefix, "WINEDEBUG=-all"}, options, out, out + ".err",
                  nullptr);
  });
  for (int i = 0; i < 600 && !(ready_ = IsRegular(ready)); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

BackgroundWineProgram::~BackgroundWineProgram() { Wait(); }

int BackgroundWineProgram::Wait() {
  if (!joined_) {
    thread_.join();
    joined_ = true;
  }
  return code_;
}

namespace profile_driver {

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

std::vector<std::string> Read(const Sandbox& wine, const std::string& file,
                              const std::vector<std::pair<std::string, std::string>>& items) {
  std::string script;
  for (const auto& [section, key] : items) {
    script += "R " + Hex(file) + " " + Hex(section) + " " + Hex(key) + "\n";
  }
  const std::string dir = wine.Root();
  WriteFileBytes(dir + "/driver-script", script);
  RunOptions options;
  options.stdin_path = dir + "/driver-script";
  Spawn({WineLoader(), KEEPXFER_PROFILE_DRIVER}, {"WINEPREFIX=" + wine.Prefix(), "WINEDEBUG=-all"},
        options, dir + "/driver-answers", dir + "/driver-errors", nullptr);
  std::vector<std::string> values;
  std::string answers = ReadFileBytes(dir + "/driver-answers");
  for (std::size_t start = 0; start < answers.size();) {
    std::size_t end = answers.find('\n', start);
    if (end == std::string::npos) end = answers.size();
    std::string line = answers.substr(start, end - start);
    values.push_back(!line.empty() && line[0] == '+' ? Unhex(line.substr(1)) : "<absent>");
    start = end + 1;
  }
  values.resize(items.size(), "<driver stopped>");
  return values;
}

}  // namespace profile_driver
