// Reading one value out of the text of a Wine registry file (user.reg), the way
// wineserver loads that file. No file access here: the caller passes the text.
#pragma once

#include <string>
#include <string_view>

#include "base/registry-value.h"

// Looks up `valueName` of the key `keyPath` in `fileText`, the whole text of a
// Wine registry file whose key names are relative to the hive (user.reg).
//
// `keyPath` and `valueName` are UTF-8 and end at a NUL, if any; one leading
// backslash in `keyPath` is ignored, runs of backslashes count as one and a
// trailing one is ignored. Names match without regard to letter case.
//
// Answers kMissing when the file is not a registry file, the key or the value
// does not exist, or the value's data is empty or malformed; kNonText for a
// value of a type other than REG_SZ and REG_EXPAND_SZ; otherwise kText with the
// text in UTF-8, cut at its first NUL. Characters that cannot be represented
// (a lone UTF-16 surrogate) come out as U+FFFD.
RegValue FindWineRegValue(std::string_view fileText, const std::string& keyPath,
                          const std::string& valueName);
