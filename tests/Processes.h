// Child processes for tests of the POSIX file layers: one that runs a piece of the tool with
// the system calls replaced and may end at an exact call, and one that runs as another user.
#pragma once

#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "base/Errors.h"
#include "posix/io.h"
#include "posix/temp-file.h"

// For a child process: the stop signals at their defaults and no signal blocked, as in a program
// started from a terminal, whatever the tests were started with (a shell without job control
// starts a background job with SIGINT and SIGQUIT ignored, and ignored signals are inherited).
inline void DefaultSignalsForChild() {
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) ::signal(signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Runs `setup` then `action` in a child process; the child's wait status. A tool error ends the
// child with exit code 3.
inline int ForkAndRun(const std::function<void()>& setup, const std::function<void()>& action) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    DefaultSignalsForChild();
    setup();
    try {
      action();
    } catch (const ToolError& e) {
      std::fprintf(stderr, "%s: %s\n", e.Kind(), e.Message().c_str());
      _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// Runs `action` in a child process with `io` in place of the system calls and the stop signals'
// cleanup installed, as in the program; the child's wait status.
inline int InChild(PosixIo* io, const std::function<void()>& action) {
  return ForkAndRun([] { InstallTempFileCleanup(); },
                    [&] {
                      ScopedIo scoped(io != nullptr ? io : &Io());
                      action();
                    });
}

// Runs `action` in a child process as the user nobody with the given groups; its exit code
// (3 for a tool error, 4 when the user cannot be taken on).
inline int AsNobody(const std::vector<gid_t>& groups, const std::function<void()>& action) {
  int status = ForkAndRun(
      [&] {
        if (setgroups(groups.size(), groups.data()) != 0 || setegid(65534) != 0 ||
            seteuid(65534) != 0) {
          _exit(4);
        }
      },
      action);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
