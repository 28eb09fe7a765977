// Keepxfer: carries Framekeep's window rules between Targets.DAT and an INI file.
#include <new>

#include "app/Console.h"
#include "app/Driver.h"
#include "app/Report.h"
#include "exchange/FramekeepU.h"
#include "lib/Errors.h"
#include "lib/IniU.h"
#include "lib/ParmU.h"
#include "platform/process.h"

namespace {

void Report(const std::string& kind, std::uintptr_t address, const std::string& message) {
  FlushOutputQuietly();
  WriteStderrReport(
      FormatErrorReport(kind, ModuleName(ProgramFileName()), ModuleOffset(address), message));
}

int Run() {
  try {
    try {
      InitParmU(ProcessCommandLine());
      InitIniU();
      RunProgram();
    } catch (const StopRun& stop) {
      FlushOutput();
      return stop.code;
    }
    FlushOutput();
    return 0;
  } catch (const ToolError& error) {
    Report(error.Kind(), error.Address(), error.Message());
  } catch (const std::bad_alloc&) {
    Report(kOutOfMemory, reinterpret_cast<std::uintptr_t>(&Run), "Out of memory");
  }
  return 1;
}

}  // namespace

int main() {
  InitProcess();
  int code = Run();
  FinalFramekeepU();
  FinalParmU();
  return code;
}
