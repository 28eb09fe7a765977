// Profile (INI file) item access, as the Windows profile functions give it (ini/engine.h).
#pragma once

#include <string>

// Reads one item. When the file, section or key is absent, returns false and
// leaves *value as it was; otherwise stores the value (blanks trimmed, one
// enclosing quote pair removed, at most 2047 characters) and returns true.
bool ProfileRead(const std::string& file, const std::string& section, const std::string& key,
                 std::string* value);

// Writes one item and flushes the file; false when the file cannot be written.
bool ProfileWrite(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& value);
