#include "app/Driver.h"

#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/Console.h"
#include "app/Stop.h"
#include "base/Errors.h"
#include "exchange/FramekeepU.h"
#include "lib/AppU.h"
#include "lib/IniU.h"
#include "lib/ParmU.h"
#include "lib/RegU.h"
#include "platform/files.h"
#include "platform/process.h"

RunMode TheRunMode = rmStats;
std::string ExchangeFileName;
std::string BackupFileName;
std::string InstallPath;
std::string DataFileName;
std::string VersionState;

namespace {

const char* const kWebAddress = "https://framekeep.example/";
const char* const kForumAddress = "https://framekeep.example/forum";

// A name given with the switch `name` that names no file of its own is refused, before anything
// is read or written.
void CheckFileName(const char* name) {
  if (!FindSwitch(name)) return;
  std::string value;
  SwitchValue(name, value);
  const std::string why = WhyNoFileName(value);
  if (!why.empty()) RaiseError(kInOutError, "Invalid filename " + value + ": " + why);
}

// The file that the switch `name` names: an absolute name is used as given; any other goes into
// the program's directory.
std::string NamedFile(const char* name) {
  std::string value;
  SwitchValue(name, value);
  return IsAbsolutePath(value) ? value : AppDir() + PathSeparator() + value;
}

}  // namespace

void ParseCommandLine() {
  if (FindSwitch("Imp") || FindSwitch("Import")) TheRunMode = rmImport;
  if (FindSwitch("Exp") || FindSwitch("Export")) TheRunMode = rmExport;
  if (FindSwitch("?")) TheRunMode = rmShortHelp;
  if (FindSwitch("Hlp")) TheRunMode = rmLongHelp;
  // The long help looks at no file; every other mode finds the data file, which -Bak copies.
  if (TheRunMode != rmLongHelp && FindSwitch("Bak")) BackupFileName = NamedFile("Bak");
  // Only the commands use the exchange file; the other modes need not know where the program
  // lives.
  if (TheRunMode != rmImport && TheRunMode != rmExport) return;
  ExchangeFileName = FindSwitch("Fil") ? NamedFile("Fil") : DefaultIniName();
}

void CheckParameters() {
  static const std::vector<std::string> kKnown = {"exp", "export", "imp", "import",
                                                  "fil", "?",      "hlp", "bak"};
  std::string item;
  if (FindUnknownItem(kKnown, &item)) {
    WriteLine("Unknown parameter " + item);
    ShowUsage();
    StopWith(kExitUnknownParameter);
  }
  if (TheRunMode == rmImport || TheRunMode == rmExport) CheckFileName("Fil");
  if (TheRunMode != rmLongHelp) CheckFileName("Bak");
}

void ShowBanner() {
  WriteLine("");
  WriteLine(std::string("Framekeep Export/Import 1.32  ") + kWebAddress);
}

void ShowUsage() {
  WriteLine("Usage: Keepxfer [-Exp[ort]|-Imp[ort] [-Fil=Filename]] [-Bak=FileName] [-?] [-Hlp]");
}

void ShowLongHelp() {
  WriteLine("");
  WriteLine("Command Line parameters (all are optional):");
  WriteLine("  <none>          Display Entry stats");
  WriteLine("  -?              Display Short Help");
  WriteLine("  -Hlp            Display Long  Help");
  WriteLine("");
  WriteLine("  -Exp[ort]       Save Framekeep settings to   FileName");
  WriteLine("  -Imp[ort]       Load Framekeep settings from FileName");
  WriteLine("  -Fil=FileName   Specify FileName");
  WriteLine("  -Bak=FileName   Specify Backup FileName");
  WriteLine("");
  WriteLine("Notes:");
  WriteLine("  If Filename is not specified, then Keepxfer.INI is used.");
  WriteLine("  This version of Keepxfer is compatible only with Framekeep 1.61 (2006-09-19)");
  WriteLine(std::string("  More information is available at ") + kForumAddress);
}

void LocateInstall() {
  InstallPath = ReadUserRegString("Software\\Framekeep\\Install", "InstallDir");
  if (InstallPath.empty()) {
    WriteLine("Framekeep not installed!");
    StopWith(kExitNotInstalled);
  }
}

// The data file that the product in `installPath` uses (its VirtualStore copy, where Windows keeps
// one for it).
std::string DataFileOf(const std::string& installPath) {
  return DataFileInUse(installPath + PathSeparator() + "Targets.DAT");
}

void CheckDataVersion() {
  DataFileName = DataFileOf(InstallPath);
  std::uint16_t first = 0;
  std::uint16_t second = 0;
  // Only the import needs to write the data file; it must fail here, before
  // anything is read, when it may not.
  ReadDataVersion(DataFileName, first, second, TheRunMode == rmImport);
  if (first == 1 && second == 3) {
    VersionState = "OK";
    return;
  }
  WriteLine("  Targets.DAT version " + std::to_string(first) + "." + std::to_string(second) +
            " not compatible!");
  StopWith(kExitIncompatible);
}

void SaveBackupFile() {
  if (BackupFileName.empty()) return;
  SaveDataFileCopy(DataFileName, BackupFileName, ExchangeFileName);
  WriteLine("  Targets.DAT saved to " + BackupFileName);
}

void ShowStats() {
  LocateInstall();
  WriteLine("  Location: " + InstallPath);
  const std::string used = DataFileOf(InstallPath);
  if (used != InstallPath + PathSeparator() + "Targets.DAT") {
    WriteLine("  Targets.DAT in VirtualStore: " + used);
  }
  CheckDataVersion();
  WriteLine("  Targets.DAT version: " + VersionState);
}

void RunProgram() {
  ParseCommandLine();
  ShowBanner();
  CheckParameters();
  switch (TheRunMode) {
    case rmStats:
      ShowStats();
      SaveBackupFile();
      break;
    case rmShortHelp:
      ShowUsage();
      LocateInstall();
      CheckDataVersion();
      SaveBackupFile();
      break;
    case rmLongHelp:
      ShowUsage();
      ShowLongHelp();
      break;
    case rmImport:
      LocateInstall();
      CheckDataVersion();
      SaveBackupFile();
      DoImport(ExchangeFileName, DataFileName, InstallPath);
      break;
    case rmExport:
      LocateInstall();
      CheckDataVersion();
      SaveBackupFile();
      DoExport(DataFileName, ExchangeFileName);
      break;
  }
}
