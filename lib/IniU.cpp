#include "lib/IniU.h"

#include "base/Errors.h"
#include "platform/process.h"
#include "platform/profile.h"

namespace {

std::string g_default_ini_name;

// The run's INI items: one copy of the exchange file for the whole run. A file that an editor
// saved as UTF-8 without a byte-order mark reads as the editor meant it.
IniItems& Items() {
  static IniItems& items = *[] {
    static IniItems made;
    made.SetMarklessUtf8(true);
    return &made;
  }();
  return items;
}

}  // namespace

void WriteIniItem(const TIniItem& item) {
  if (item.Value.find_first_of("\r\n") != std::string::npos) {
    RaiseError(kIniFileError, "Unable to write to " + item.FileName + ": the value of key " +
                                  item.Key + " in section " + item.Section + " holds a line break");
  }
  if (!Items().Write(item.FileName, item.Section, item.Key, item.Value)) {
    RaiseError(kIniFileError, "Unable to write to " + item.FileName);
  }
}

bool ReadIniItem(TIniItem& item) {
  return Items().Read(item.FileName, item.Section, item.Key, &item.Value);
}

TIniPlace WhereIniItem(const TIniItem& item) {
  const IniItems::Place place = Items().Where(item.FileName, item.Section, item.Key);
  return TIniPlace{place.section_found, place.section_line, place.key_found, place.key_line};
}

std::vector<std::string> ReadIniSections(const std::string& fileName) {
  return Items().SectionNames(fileName);
}

std::string IniNameForProgram(const std::string& programFile, char separator) {
  std::size_t name_start = programFile.rfind(separator);
  name_start = name_start == std::string::npos ? 0 : name_start + 1;
  const std::size_t n = programFile.size();
  if (n >= name_start + 5 && programFile[n - 4] == '.') {
    return programFile.substr(0, n - 3) + "INI";
  }
  return programFile + ".INI";
}

void InitIniU() {
  // Where the system cannot tell the program's path, only the runs that need the name fail,
  // when they ask for it.
  try {
    g_default_ini_name = IniNameForProgram(ProgramFileName(), PathSeparator());
  } catch (const ToolError&) {
    g_default_ini_name.clear();
  }
}

const std::string& DefaultIniName() {
  if (g_default_ini_name.empty()) {
    g_default_ini_name = IniNameForProgram(ProgramFileName(), PathSeparator());
  }
  return g_default_ini_name;
}
