// Expected conditions: their line is printed, and the run ends with a fixed exit code after unit
// finalisation, as a normal end does.
#pragma once

enum ExitCode : int {
  kExitNotInstalled = 1,
  kExitIncompatible = 2,
  kExitInputMissing = 3,
  kExitUnknownParameter = 4,
  kExitProductRunning = 5,
};

// Thrown by StopWith, caught by main only.
struct StopRun {
  int code;
};

// Ends the run with `code`; its line is already printed.
[[noreturn]] inline void StopWith(int code) { throw StopRun{code}; }
