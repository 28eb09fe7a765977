// Profile (INI file) item access, as the Windows profile functions give it (ini/engine.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Reads one item. When the file, section or key is absent, returns false and
// leaves *value as it was; otherwise stores the value (blanks trimmed, one
// enclosing quote pair removed, at most 2047 characters) and returns true.
bool ProfileRead(const std::string& file, const std::string& section, const std::string& key,
                 std::string* value);

// Writes one item and flushes the file; false when the file cannot be written.
bool ProfileWrite(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& value);

// Where an item stands in its file, for messages: whether the file has the section and the key in
// it, and the 1-based numbers of their lines.
struct ProfilePlace {
  bool section_found = false;
  std::size_t section_line = 0;
  bool key_found = false;
  std::size_t key_line = 0;
};
ProfilePlace ProfileWhere(const std::string& file, const std::string& section,
                          const std::string& key);

// The names of the file's sections, in file order.
std::vector<std::string> ProfileSections(const std::string& file);
