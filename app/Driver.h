// The program's run: switches to a run mode, the banner and help texts, the
// installation lookup, the data file's version check, and the commands.
#pragma once

#include <cstdint>
#include <string>

enum RunMode : std::uint8_t {
  rmStats = 0,
  rmShortHelp = 1,
  rmLongHelp = 2,
  rmImport = 3,
  rmExport = 4,
};

// Process-wide state of one run.
extern RunMode TheRunMode;
extern std::string ExchangeFileName;
extern std::string InstallPath;
extern std::string DataFileName;
extern std::string VersionState;

// Exit codes of the expected stops.
enum ExitCode : int {
  kExitNotInstalled = 1,
  kExitIncompatible = 2,
  kExitInputMissing = 3,
  kExitProductRunning = 5,
};

// Prints its line (if any was printed before) and ends the run with `code`.
[[noreturn]] void StopWith(int code);

void ParseCommandLine();
void ShowBanner();
void ShowUsage();
void ShowLongHelp();
void LocateInstall();
void CheckDataVersion();
void ShowStats();

// The export and import commands.
void DoExport(const std::string& fileName);
void DoImport(const std::string& fileName);
bool IsProductRunning();

// The whole run after start-up: parse, banner, dispatch.
void RunProgram();
