#include "lib/AppU.h"

#include "platform/process.h"

std::string DirectoryOfProgram(const std::string& programFile, char separator) {
  std::size_t cut = programFile.rfind(separator);
  if (separator == '\\') {
    std::size_t colon = programFile.rfind(':');
    if (colon != std::string::npos && (cut == std::string::npos || colon > cut)) {
      return programFile.substr(0, colon + 1);
    }
  }
  if (cut == std::string::npos) return std::string();
  std::string dir = programFile.substr(0, cut);
  // A root keeps its separator.
  if (dir.empty() || (separator == '\\' && dir.size() == 2 && dir[1] == ':')) dir += separator;
  return dir;
}

std::string AppDir() { return DirectoryOfProgram(ProgramFileName(), PathSeparator()); }
