// The program's run: switches to a run mode, the banner and help texts, the
// installation lookup, the data file's version check, and the dispatch to the
// commands.
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
extern std::string BackupFileName;  // -Bak's file; empty without -Bak
extern std::string InstallPath;
extern std::string DataFileName;
extern std::string VersionState;

void ParseCommandLine();
// Stops the run with the usage line when the command line holds an item that is no switch of the
// tool.
void CheckParameters();
void ShowBanner();
void ShowUsage();
void ShowLongHelp();
void LocateInstall();
void CheckDataVersion();
void ShowStats();
// With -Bak: a copy of the data file as the version check found it, and the line that says where.
void SaveBackupFile();

// The whole run after start-up: parse, banner, dispatch.
void RunProgram();
