#include "tests/e2e/Sandbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#ifndef KEEPXFER_BINARY
#error "KEEPXFER_BINARY must name the program under test"
#endif

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::perror(what);
    std::abort();
  }
}

}  // namespace

std::string RegistryString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

Sandbox::Sandbox() {
  Check(std::system(("mkdir -p '" + ProductDir() + "' '" + Prefix() + "/dosdevices' '" +
                     ProgramDir() + "' '" + Root() + "/home'")
                        .c_str()) == 0,
        "mkdir");
  Check(symlink("../drive_c", (Prefix() + "/dosdevices/c:").c_str()) == 0, "symlink");
  Check(std::system(("cp '" KEEPXFER_BINARY "' '" + Program() + "'").c_str()) == 0, "cp");
  // Let an unprivileged run reach the files it is meant to.
  Check(std::system(("chmod -R a+rwX '" + Root() + "'").c_str()) == 0, "chmod");
}

void Sandbox::WriteRegistry(const std::string& text) {
  WriteFileBytes(Prefix() + "/user.reg", text);
}

void Sandbox::SetInstallValue(const std::string& data) {
  WriteRegistry(
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
      "#arch=win64\n\n[Software\\\\Framekeep\\\\Install] 1700000000\n#time=1da0c0de0a0b0c0\n"
      "\"InstallDir\"=" +
      data + "\n");
}

void Sandbox::SetInstallDir(const std::string& windowsPath) {
  SetInstallValue(RegistryString(windowsPath));
}

RunResult Sandbox::Run(const std::vector<std::string>& args, const RunOptions& options) const {
  std::string out_path = dir_ / "stdout";
  std::string err_path = dir_ / "stderr";
  std::vector<std::string> argv;
  if (options.unprivileged) {
    argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  argv.insert(argv.end(), options.wrapper.begin(), options.wrapper.end());
  argv.push_back(Program());
  argv.insert(argv.end(), args.begin(), args.end());

  pid_t pid = fork();
  Check(pid >= 0, "fork");
  if (pid == 0) {
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
    setenv("WINEPREFIX", Prefix().c_str(), 1);
    setenv("HOME", (Root() + "/home").c_str(), 1);
    std::vector<char*> raw;
    for (const std::string& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    execvp(raw[0], raw.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  RunResult result;
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = options.stdout_mode == StdoutMode::kCapture ? ReadFileBytes(out_path) : "";
  result.err = ReadFileBytes(err_path);
  return result;
}

bool CanRunUnprivileged() {
  return geteuid() == 0 && std::system(
                               "setpriv --reuid=65534 --regid=65534 --clear-groups true "
                               ">/dev/null 2>&1") == 0;
}

bool CanUseMountNamespace() {
  return geteuid() == 0 && std::system("unshare -m true >/dev/null 2>&1") == 0;
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
