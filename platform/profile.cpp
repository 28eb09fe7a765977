// INI items through the tool's own engine, on both platforms: it reads every file as the Windows
// profile functions do, and writes only the item's bytes, through a temporary file and a rename
// where the file must be rewritten, with a lock per item, each write's failure reported. (The
// profile functions rewrite the whole file in place for every item, without a lock or a check of
// their own write.) One engine serves the run, so that its copy of the file spares a read per
// item.
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
