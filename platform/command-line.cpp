#include "platform/command-line.h"

#include "base/Ascii.h"

namespace {

bool NeedsQuotes(const std::string& arg) {
  if (arg.empty()) return true;
  for (char c : arg) {
    if (ascii::IsSpaceOrControl(c) || c == '"') return true;
  }
  return false;
}

}  // namespace

std::string JoinArguments(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += ' ';
    if (!NeedsQuotes(arg)) {
      line += arg;
      continue;
    }
    line += '"';
    for (char c : arg) {
      line += c;
      if (c == '"') line += '"';
    }
    line += '"';
  }
  return line;
}
