// The current user's registry: one value read by key path and value name.
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

// Reads `valueName` of `keyPath` (relative to the current user's hive; a
// leading backslash is ignored). Key and value names match without regard to
// letter case. May raise ERegistryException "Failed to get data for '<name>'"
// where the platform reads a value's size and data in two steps.
RegValue ReadUserRegValue(const std::string& keyPath, const std::string& valueName);
