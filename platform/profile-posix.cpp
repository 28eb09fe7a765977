// POSIX has no profile functions: the tool's own engine stands in for them.
#include "lib/IniEngine.h"
#include "platform/profile.h"

bool ProfileRead(const std::string& file, const std::string& section, const std::string& key,
                 std::string* value) {
  return ini_engine::ReadValue(file, section, key, value);
}

bool ProfileWrite(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& value) {
  return ini_engine::WriteValue(file, section, key, value);
}
