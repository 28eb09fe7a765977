#include "app/Report.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>

#include "app/Console.h"
#include "app/Stop.h"
#include "base/Errors.h"
#include "platform/process.h"

std::string FormatErrorReport(const std::string& kind, const std::string& module,
                              std::uint64_t offset, const std::string& message) {
  char address[32];
  std::snprintf(address, sizeof address, "%08llX", static_cast<unsigned long long>(offset));
  std::string text = "Exception " + kind + " in module " + module + " at " + address + ".\r\n";
  text += message;
  if (!message.empty() && message.back() != '.') text += '.';
  text += "\r\n\r\n";
  if (text.size() > 1024) text.resize(1024);
  return text;
}

std::string ModuleName(const std::string& programFile) {
  std::size_t cut = programFile.find_last_of("/\\");
  return cut == std::string::npos ? programFile : programFile.substr(cut + 1);
}

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

}  // namespace

int RunReportingErrors(void (*body)()) {
  const std::uintptr_t here = reinterpret_cast<std::uintptr_t>(&RunReportingErrors);
  try {
    try {
      body();
    } catch (const StopRun& stop) {
      FlushOutput();
      return stop.code;
    }
    FlushOutput();
    return 0;
  } catch (const ToolError& error) {
    Report(error.Kind(), error.Address(), error.Message());
  } catch (const std::bad_alloc&) {
    Report(kOutOfMemory, here, "Out of memory");
  } catch (const std::exception& error) {
    Report(KindName(error), here, error.what());
  }
  return 1;
}
