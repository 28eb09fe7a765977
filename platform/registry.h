// The current user's registry: one value read by key path and value name.
#pragma once

#include <string>

#include "base/registry-value.h"

// Reads `valueName` of `keyPath` (relative to the current user's hive; a
// leading backslash is ignored). Key and value names match without regard to
// letter case. May raise ERegistryException "Failed to get data for '<name>'"
// where the platform reads a value's size and data in two steps.
RegValue ReadUserRegValue(const std::string& keyPath, const std::string& valueName);
