// Keepxfer: carries Framekeep's window rules between Targets.DAT and an INI file.
#include "app/Driver.h"
#include "app/Report.h"
#include "exchange/FramekeepU.h"
#include "lib/IniU.h"
#include "lib/ParmU.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  InitProcess(argc, argv);
  int code = RunReportingErrors([] {
    InitParmU(ProcessCommandLine());
    InitIniU();
    RunProgram();
  });
  FinalFramekeepU();
  FinalParmU();
  return code;
}
