#include "app/Commands.h"

#include <string>
#include <vector>

#include "app/Console.h"
#include "app/Stop.h"
#include "exchange/FramekeepU.h"
#include "platform/files.h"
#include "platform/running.h"

bool IsProductRunning(const std::string& installPath) { return IsProgramRunningFrom(installPath); }

void DoExport(const std::string& dataFileName, const std::string& fileName) {
  std::int32_t count = ExportToIni(dataFileName, fileName);
  WriteLine(std::to_string(count) + " entries saved to " + fileName);
}

void DoImport(const std::string& fileName, const std::string& dataFileName,
              const std::string& installPath) {
  if (!IsExistingFile(fileName)) {
    WriteLine("Cannot find input file " + fileName);
    StopWith(kExitInputMissing);
  }
  if (IsProductRunning(installPath)) {
    WriteLine("Cannot overwrite Framekeep's file while Framekeep is running!");
    StopWith(kExitProductRunning);
  }
  std::vector<std::string> notLoaded;
  std::int32_t count = ImportFromFile(fileName, dataFileName, &notLoaded);
  WriteLine(std::to_string(count) + " entries loaded from " + fileName + ".");
  if (notLoaded.empty()) return;
  std::string list;
  for (const std::string& section : notLoaded) list += (list.empty() ? "[" : ", [") + section + "]";
  WriteLine("  Not loaded: " + list + " (beyond NumEntries " + std::to_string(count) + ")");
}
