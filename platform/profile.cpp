// INI items through the tool's own engine, on both platforms: it reads every file as the Windows
// profile functions do, and also reads UTF-8 without a byte-order mark as UTF-8; it writes only
// the item's bytes, through a temporary file and a rename where the file must be rewritten, with
// a lock per item, each write's failure reported. (The profile functions rewrite the whole file
// in place for every item, without a lock or a check of their own write.) One engine serves the
// run, so that its copy of the file spares a read per item.
#include "platform/profile.h"

#include "ini/engine.h"

namespace {

// A file that an editor saved as UTF-8 without a byte-order mark reads as the editor meant it.
struct ToolEngine : IniEngine {
  ToolEngine() { SetMarklessUtf8(true); }
};

IniEngine& Engine() {
  static ToolEngine engine;
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

ProfilePlace ProfileWhere(const std::string& file, const std::string& section,
                          const std::string& key) {
  const IniEngine::Place place = Engine().Where(file, section, key);
  return ProfilePlace{place.section_found, place.section_line, place.key_found, place.key_line};
}

std::vector<std::string> ProfileSections(const std::string& file) {
  return Engine().SectionNames(file);
}
