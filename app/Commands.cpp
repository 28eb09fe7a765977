// The export and import commands.
#include "app/Console.h"
#include "app/Driver.h"
#include "exchange/FramekeepU.h"
#include "platform/files.h"

bool IsProductRunning() { return false; }

void DoExport(const std::string& fileName) {
  std::int32_t count = ExportToIni(DataFileName, fileName);
  WriteLine(std::to_string(count) + " entries saved to " + fileName);
}

void DoImport(const std::string& fileName) {
  if (!IsExistingFile(fileName)) {
    WriteLine("Cannot find input file " + fileName);
    StopWith(kExitInputMissing);
  }
  if (IsProductRunning()) {
    WriteLine("Cannot overwrite Framekeep's file while Framekeep is running!");
    StopWith(kExitProductRunning);
  }
  std::int32_t count = ImportFromIni(fileName, DataFileName);
  WriteLine(std::to_string(count) + " entries loaded from " + fileName + ".");
}
