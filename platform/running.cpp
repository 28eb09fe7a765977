#include "platform/running.h"

#include "base/Ascii.h"

namespace {

// `path` with one kind of separator, none doubled or at the end, and ASCII letters in lower
// case, so that two names of one folder are equal.
std::string WindowsFolderKey(const std::string& path) {
  std::string key;
  for (char c : path) {
    char d = c == '/' ? '\\' : ascii::Lower(c);
    if (d == '\\' && !key.empty() && key.back() == '\\') continue;
    key += d;
  }
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

}  // namespace

bool IsDirectlyInFolder(const std::string& program, const std::string& folder) {
  const std::string key = WindowsFolderKey(program);
  const std::size_t cut = key.rfind('\\');
  return cut != std::string::npos && key.substr(0, cut) == WindowsFolderKey(folder);
}
