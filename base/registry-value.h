// One value of the current user's registry, as the registry service gives it and as the reader of
// a Wine registry file finds it.
#pragma once

#include <string>

enum class RegValueKind {
  kMissing,  // no key, no value, a key that cannot be opened, or a value of size zero
  kText,     // a plain or expandable string, returned as stored (no expansion)
  kNonText,  // any other type
};

struct RegValue {
  RegValueKind kind = RegValueKind::kMissing;
  std::string text;  // kText only: the value cut at its first NUL, 8-bit text
};
