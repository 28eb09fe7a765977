// Single INI items, each call complete in itself, and the default exchange
// file name.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct TIniItem {
  std::string FileName;
  std::string Section;
  std::string Key;
  std::string Value;  // on a read also the default that stays when the key is absent
};

// Writes the item's value and flushes the file. A file that cannot be written
// raises EIniFileException "Unable to write to <file>"; a value holding a
// line break is refused the same way, before the file is touched.
void WriteIniItem(const TIniItem& item);

// Sets item.Value to the stored value, or leaves it unchanged when absent; true when it was
// there.
bool ReadIniItem(TIniItem& item);

// Where an item stands in its file, for messages: whether the file has its section and its key
// there, and the 1-based numbers of their lines.
struct TIniPlace {
  bool SectionFound = false;
  std::size_t SectionLine = 0;
  bool KeyFound = false;
  std::size_t KeyLine = 0;
};
TIniPlace WhereIniItem(const TIniItem& item);

// The names of the file's sections, in file order; none when it cannot be read.
std::vector<std::string> ReadIniSections(const std::string& fileName);

// The default exchange-file name for a program file: a three-letter extension
// replaced by "INI", or ".INI" appended to a name without one.
std::string IniNameForProgram(const std::string& programFile, char separator);

// Computes DefaultIniName (at start-up).
void InitIniU();
const std::string& DefaultIniName();
