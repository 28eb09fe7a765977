// The settings table, its data file (Targets.DAT) and its INI exchange form.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr std::size_t kWindowNameSize = 129;
constexpr std::size_t kClassNameSize = 131;
constexpr std::size_t kEntrySize = 288;
constexpr std::size_t kHeaderSize = 8;
// Entry counts from this one up have a byte size beyond the signed 32-bit range.
constexpr std::int64_t kTooManyEntries = 7456541;
// The longest data-file name the product's platform opens.
constexpr std::size_t kMaxDataFileName = 259;

// One target window, 288 bytes in the data file.
struct typEntry {
  std::array<char, kWindowNameSize> WindowName{};  // text to the first NUL, or all 129 bytes
  std::array<char, kClassNameSize> ClassName{};    // text to the first NUL, or all 131 bytes
  std::int32_t Action = 0;                         // 1 to 5
  std::int32_t SearchMethod = 0;                   // 0 to 2
  std::int32_t SetPosition = 0;                    // 0 no, else yes
  std::uint32_t PositionHorizontal = 0;            // unsigned 16-bit value in the low half
  std::uint32_t PositionVertical = 0;
  std::uint32_t SizeHorizontal = 0;
  std::uint32_t SizeVertical = 0;
};

// The settings table.
struct typFile {
  std::uint16_t Word1 = 0;
  std::uint16_t Word3 = 0;
  std::int32_t NumEntries = 0;
  // Defaults for values marked "Default"; filled by the import only.
  std::uint16_t DefaultPositionHorizontal = 0;
  std::uint16_t DefaultPositionVertical = 0;
  std::uint16_t DefaultSizeHorizontal = 0;
  std::uint16_t DefaultSizeVertical = 0;
  std::vector<typEntry> Entries;
};

// The run's settings table.
extern typFile Targets;
void FinalFramekeepU();

// Little-endian codecs of the data file's records.
void DecodeEntry(const unsigned char* bytes, typEntry* entry);
void EncodeEntry(const typEntry& entry, unsigned char* bytes);

// The two version words at the start of the data file; bytes the file lacks
// stay 0. `forWriting` also makes sure the file may be written.
void ReadDataVersion(const std::string& fileName, std::uint16_t& first, std::uint16_t& second,
                     bool forWriting);

// Replaces Targets with the data file's header and entries.
void LoadTargets(const std::string& fileName);
// Writes Targets as the complete new data file.
void SaveTargets(const std::string& fileName);
// Saves the data file, as the version check found it, as the file `copyName` (-Bak), which may be
// neither the data file itself nor the exchange file `exchangeFileName` (empty when there is
// none): else EInOutError "Unable to save Targets.DAT to <copyName>: <why>".
void SaveDataFileCopy(const std::string& dataFileName, const std::string& copyName,
                      const std::string& exchangeFileName);

// Texts of the codes; codes without a name give their decimal number.
std::string ActionName(std::int32_t code);
std::string SearchMethodName(std::int32_t code);
std::string ActionNameList();
std::string SearchMethodNameList();
// The code that `text` gives: a name in any ASCII letter case, or a number in the forms that
// TextToInt takes (the export writes a code without a name as its number); false for anything
// else.
bool ActionFromName(const std::string& text, std::int32_t* code);
bool SearchMethodFromName(const std::string& text, std::int32_t* code);

// True when the value contains "Default" in any letter case.
bool IsDefaultMarker(const std::string& value);

// Exports the data file into the INI file; answers the number of entries.
std::int32_t ExportToIni(const std::string& dataFileName, const std::string& iniFileName);
// Imports the INI file into the data file; answers the number of entries. Every item is read
// from the file and checked against its field before the data file is written; a refusal names
// the file, the line, the section and the key. `notLoaded`, when given, gets the names of the
// file's sections Entry<n> with n at or beyond NumEntries, which the import leaves alone, in file
// order. A copy of the data file that it replaces is kept first (platform/backups.h).
std::int32_t ImportFromIni(const std::string& iniFileName, const std::string& dataFileName,
                           std::vector<std::string>* notLoaded = nullptr);
// Imports the file `fileName`, an exchange file or a data file, into the data file; answers the
// number of entries. A file that begins as a data file of format 1.3 does (a copy that an import
// or -Bak made) is restored as it is, once its size is that of the entries it counts, with a copy
// of the data file it replaces kept first; any other file is read by ImportFromIni.
std::int32_t ImportFromFile(const std::string& fileName, const std::string& dataFileName,
                            std::vector<std::string>* notLoaded = nullptr);
