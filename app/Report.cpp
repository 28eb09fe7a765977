#include "app/Report.h"

#include <cstdio>

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
