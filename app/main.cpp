// Keepxfer: carries Framekeep's window rules between Targets.DAT and an INI file.
#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>

#include "app/Console.h"
#include "app/Driver.h"
#include "app/Report.h"
#include "app/Stop.h"
#include "base/Errors.h"
#include "exchange/FramekeepU.h"
#include "lib/IniU.h"
#include "lib/ParmU.h"
#include "platform/process.h"

namespace {

void Report(const std::string& kind, std::uintptr_t address, const std::string& message) {
  FlushOutputQuietly();
  WriteStderrReport(FormatErrorReport(kind, ModuleName(ProgramFileNameForReport()),
                                      ModuleOffset(address), message));
}

// The class name of an error from the C++ library, as the run time names it: std::length_error.
std::string KindName(const std::exception& error) {
  const char* mangled = typeid(error).name();
  int status = 0;
  char* readable = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && readable != nullptr ? readable : mangled;
  std::free(readable);
  return name;
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
  } catch (const std::exception& error) {
    Report(KindName(error), reinterpret_cast<std::uintptr_t>(&Run), error.what());
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  InitProcess(argc, argv);
  int code = Run();
  FinalFramekeepU();
  FinalParmU();
  return code;
}
