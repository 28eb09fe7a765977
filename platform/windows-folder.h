// Windows folder names compared as Windows compares them: without regard to letter case, and
// whatever the separators.
#pragma once

#include <string>

#include "base/Ascii.h"

// `folder` with one kind of separator, none doubled or at the end, and ASCII letters in lower
// case, so that two names of one folder are equal.
inline std::string WindowsFolderKey(const std::string& folder) {
  std::string key;
  for (char c : folder) {
    char d = c == '/' ? '\\' : ascii::Lower(c);
    if (d == '\\' && !key.empty() && key.back() == '\\') continue;
    key += d;
  }
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}
