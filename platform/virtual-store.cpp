// Where Windows keeps the data file of a program that runs without an execution level, written
// once for both builds so that its rules are tested on every machine.
#include "platform/files.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::string VirtualStoreName(const std::string& localAppData, const std::string& dataFileName) {
  std::string name = dataFileName;
  if (name.compare(0, 4, "\\\\?\\") == 0) name.erase(0, 4);
  if (localAppData.empty() || name.size() < 3 || !IsDriveLetter(name[0]) || name[1] != ':' ||
      !IsSeparator(name[2])) {
    return "";
  }
  std::string store = localAppData;
  while (!store.empty() && IsSeparator(store.back())) store.pop_back();
  return store + "\\VirtualStore" + name.substr(2);
}
