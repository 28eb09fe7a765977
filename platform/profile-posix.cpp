// POSIX has no profile functions: the tool's own INI engine stands in for them. One engine
// serves the run, so that its copy of the file spares a read per item.
#include "platform/profile.h"

#include "ini/engine.h"

namespace {

IniEngine& Engine() {
  static IniEngine engine;
  return engine;
}

}  // namespace

bool ProfileRead(const std::string& file, const std::string& section, const std::string& key,
                 std::string* value) {
  return Engine().Read(file, section, key, value);
}

bool ProfileWrite(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& value) {
  return Engine().Write(file, section, key, value);
}
