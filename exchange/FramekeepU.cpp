#include "exchange/FramekeepU.h"

#include <algorithm>
#include <memory>
#include <new>

#include "base/Ascii.h"
#include "base/Errors.h"
#include "exchange/exchange-reader.h"
#include "lib/ConvertU.h"
#include "lib/IniU.h"
#include "platform/backups.h"
#include "platform/files.h"
#include "platform/ini-file.h"

typFile Targets;

namespace {

// The data file as the version check found it; the load and the save of the same name reach
// that very file.
std::unique_ptr<DataFilePin> g_pin;

}  // namespace

void FinalFramekeepU() {
  Targets = typFile();
  g_pin.reset();
}

namespace {

void CheckDataFileName(const std::string& fileName) {
  if (fileName.size() > kMaxDataFileName) RaiseInOutError(kPathNotFound);
}

// The pin of the version check for `fileName`, or else a new one in `own`.
DataFilePin& PinFor(const std::string& fileName, std::unique_ptr<DataFilePin>* own) {
  CheckDataFileName(fileName);
  if (g_pin != nullptr && g_pin->name() == fileName) return *g_pin;
  *own = std::make_unique<DataFilePin>(fileName);
  return **own;
}

const char* const kActionNames[] = {"Maximize", "Minimize", "Restore", "Center", "Resize"};
const char* const kSearchMethodNames[] = {"ClassName", "WindowTitleExact", "WindowTitleContaining"};

std::uint32_t GetU32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t GetU16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void PutU32(std::uint32_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

void PutU16(std::uint16_t v, unsigned char* p) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

// Sizes the table for `count` entries, all zero bytes.
void SizeEntries(std::int64_t count) {
  if (count < 0 || count >= kTooManyEntries) RaiseError(kRangeError, "Range check error");
  try {
    Targets.Entries.assign(static_cast<std::size_t>(count), typEntry());
  } catch (const std::bad_alloc&) {
    RaiseError(kOutOfMemory, "Out of memory");
  }
}

template <std::size_t N>
std::string FieldText(const std::array<char, N>& field) {
  return std::string(field.data(), std::find(field.begin(), field.end(), '\0') - field.begin());
}

template <std::size_t N>
void SetFieldText(std::array<char, N>& field, const std::string& text) {
  field.fill('\0');
  std::copy_n(text.begin(), std::min(text.size(), N), field.begin());
}

// A value that reading would change (outer blanks, or an enclosing quote
// pair) goes out inside one more pair of double quotes, which reading removes.
std::string ProtectValue(const std::string& value) {
  if (value.empty()) return value;
  const char first = value.front();
  const char last = value.back();
  bool quoted = value.size() >= 2 && first == last && (first == '"' || first == '\'');
  if (ascii::IsIniBlank(first) || ascii::IsIniBlank(last) || quoted) return '"' + value + '"';
  return value;
}

void WriteItem(TIniItem& item, const char* key, const std::string& value) {
  item.Key = key;
  item.Value = value;
  WriteIniItem(item);
}

// Keeps a "Default" marker that the file holds; writes the number otherwise.
void WriteSizeKey(TIniItem item, const char* keyName, std::uint16_t value) {
  item.Key = keyName;
  ReadIniItem(item);
  if (IsDefaultMarker(item.Value)) return;
  item.Value = std::to_string(value);
  WriteIniItem(item);
}

}  // namespace

// Where each field of an entry lies: the two names, then seven 32-bit little-endian slots.
constexpr std::size_t kWindowNameAt = 0;
constexpr std::size_t kClassNameAt = kWindowNameAt + kWindowNameSize;  // 129
constexpr std::size_t kActionAt = kClassNameAt + kClassNameSize;       // 260
constexpr std::size_t kSearchMethodAt = kActionAt + 4;
constexpr std::size_t kSetPositionAt = kSearchMethodAt + 4;
constexpr std::size_t kPositionHorizontalAt = kSetPositionAt + 4;
constexpr std::size_t kPositionVerticalAt = kPositionHorizontalAt + 4;
constexpr std::size_t kSizeHorizontalAt = kPositionVerticalAt + 4;
constexpr std::size_t kSizeVerticalAt = kSizeHorizontalAt + 4;  // 284
static_assert(kSizeVerticalAt + 4 == kEntrySize, "an entry is 288 bytes with no gaps");

void DecodeEntry(const unsigned char* p, typEntry* e) {
  std::copy_n(p + kWindowNameAt, kWindowNameSize, e->WindowName.begin());
  std::copy_n(p + kClassNameAt, kClassNameSize, e->ClassName.begin());
  e->Action = static_cast<std::int32_t>(GetU32(p + kActionAt));
  e->SearchMethod = static_cast<std::int32_t>(GetU32(p + kSearchMethodAt));
  e->SetPosition = static_cast<std::int32_t>(GetU32(p + kSetPositionAt));
  e->PositionHorizontal = GetU32(p + kPositionHorizontalAt);
  e->PositionVertical = GetU32(p + kPositionVerticalAt);
  e->SizeHorizontal = GetU32(p + kSizeHorizontalAt);
  e->SizeVertical = GetU32(p + kSizeVerticalAt);
}

void EncodeEntry(const typEntry& e, unsigned char* p) {
  std::copy_n(e.WindowName.begin(), kWindowNameSize, p + kWindowNameAt);
  std::copy_n(e.ClassName.begin(), kClassNameSize, p + kClassNameAt);
  PutU32(static_cast<std::uint32_t>(e.Action), p + kActionAt);
  PutU32(static_cast<std::uint32_t>(e.SearchMethod), p + kSearchMethodAt);
  PutU32(static_cast<std::uint32_t>(e.SetPosition), p + kSetPositionAt);
  PutU32(e.PositionHorizontal, p + kPositionHorizontalAt);
  PutU32(e.PositionVertical, p + kPositionVerticalAt);
  PutU32(e.SizeHorizontal, p + kSizeHorizontalAt);
  PutU32(e.SizeVertical, p + kSizeVerticalAt);
}

void ReadDataVersion(const std::string& fileName, std::uint16_t& first, std::uint16_t& second,
                     bool forWriting) {
  CheckDataFileName(fileName);
  // An import holds the file for itself until it has replaced it; other runs share it.
  g_pin =
      std::make_unique<DataFilePin>(fileName, forWriting ? PinTurn::kExclusive : PinTurn::kShared);
  DataFile file(*g_pin, forWriting ? FileAccess::kReadWrite : FileAccess::kRead);
  unsigned char bytes[4] = {0, 0, 0, 0};
  file.Read(bytes, sizeof bytes);
  first = GetU16(bytes);
  second = GetU16(bytes + 2);
}

void LoadTargets(const std::string& fileName) {
  std::unique_ptr<DataFilePin> own;
  DataFilePin& pin = PinFor(fileName, &own);
  DataFile file(pin, FileAccess::kRead);
  unsigned char header[kHeaderSize] = {};
  file.Read(header, sizeof header);
  Targets = typFile();
  Targets.Word1 = GetU16(header);
  Targets.Word3 = GetU16(header + 2);
  Targets.NumEntries = static_cast<std::int32_t>(GetU32(header + 4));
  SizeEntries(Targets.NumEntries);

  // Entries the file lacks, or the part of one, stay zero.
  std::vector<unsigned char> chunk(kEntrySize * 256);
  std::size_t index = 0;
  while (index < Targets.Entries.size()) {
    std::size_t want = std::min<std::size_t>(256, Targets.Entries.size() - index);
    std::fill(chunk.begin(), chunk.end(), 0);
    std::size_t got = file.Read(chunk.data(), want * kEntrySize);
    std::size_t touched = (got + kEntrySize - 1) / kEntrySize;
    for (std::size_t i = 0; i < touched; ++i) {
      DecodeEntry(chunk.data() + i * kEntrySize, &Targets.Entries[index + i]);
    }
    if (got < want * kEntrySize) break;
    index += want;
  }
  // Read whole: other runs need not wait for the rest of this one.
  pin.EndTurn();
}

namespace {

// Targets as the bytes of its data file.
std::string EncodeTargets() {
  std::string bytes(kHeaderSize + Targets.Entries.size() * kEntrySize, '\0');
  unsigned char* p = reinterpret_cast<unsigned char*>(&bytes[0]);
  PutU16(Targets.Word1, p);
  PutU16(Targets.Word3, p + 2);
  PutU32(static_cast<std::uint32_t>(Targets.NumEntries), p + 4);
  for (std::size_t i = 0; i < Targets.Entries.size(); ++i) {
    EncodeEntry(Targets.Entries[i], p + kHeaderSize + i * kEntrySize);
  }
  return bytes;
}

// The pinned file's bytes as they are now.
std::string PinnedBytes(const DataFilePin& pin) {
  DataFile file(pin, FileAccess::kRead);
  std::string bytes;
  std::vector<char> chunk(1 << 16);
  while (const std::size_t got = file.Read(chunk.data(), chunk.size())) {
    bytes.append(chunk.data(), got);
  }
  return bytes;
}

// Replaces the data file with `bytes` once a copy of the file it replaces is kept: the file of
// the version check, under the turn that the import holds since.
void ReplaceKeepingCopy(const std::string& fileName, const std::string& bytes) {
  std::unique_ptr<DataFilePin> own;
  DataFilePin& pin = PinFor(fileName, &own);
  if (PinnedFileExists(pin)) KeepCopyOfDataFile(PinnedBytes(pin));
  ReplaceDataFile(pin, bytes);
}

}  // namespace

void SaveTargets(const std::string& fileName) {
  std::unique_ptr<DataFilePin> own;
  ReplaceDataFile(PinFor(fileName, &own), EncodeTargets());
}

void SaveDataFileCopy(const std::string& dataFileName, const std::string& copyName,
                      const std::string& exchangeFileName) {
  std::unique_ptr<DataFilePin> own;
  const DataFilePin& pin = PinFor(dataFileName, &own);
  const std::string unable = "Unable to save Targets.DAT to " + copyName + ": ";
  if (IsPinnedFile(copyName, pin)) RaiseError(kInOutError, unable + "it is Targets.DAT itself");
  if (!exchangeFileName.empty() && IsSameFile(copyName, exchangeFileName)) {
    RaiseError(kInOutError, unable + "it is the exchange file");
  }
  if (const int code = SaveCopyAs(copyName, PinnedBytes(pin))) {
    RaiseError(kInOutError, unable + InOutMessage(code));
  }
}

std::string ActionName(std::int32_t code) {
  if (code >= 1 && code <= 5) return kActionNames[code - 1];
  return IntToText(code);
}

std::string SearchMethodName(std::int32_t code) {
  if (code >= 0 && code <= 2) return kSearchMethodNames[code];
  return IntToText(code);
}

std::string ActionNameList() {
  std::string list;
  for (const char* name : kActionNames) list += (list.empty() ? "" : ", ") + std::string(name);
  return list;
}

std::string SearchMethodNameList() {
  std::string list;
  for (const char* name : kSearchMethodNames) {
    list += (list.empty() ? "" : ", ") + std::string(name);
  }
  return list;
}

bool ActionFromName(const std::string& text, std::int32_t* code) {
  for (std::int32_t named = 1; named <= 5; ++named) {
    if (ascii::EqualNoCase(text, kActionNames[named - 1])) {
      *code = named;
      return true;
    }
  }
  return TryTextToInt(text, code);
}

bool SearchMethodFromName(const std::string& text, std::int32_t* code) {
  for (std::int32_t named = 0; named <= 2; ++named) {
    if (ascii::EqualNoCase(text, kSearchMethodNames[named])) {
      *code = named;
      return true;
    }
  }
  return TryTextToInt(text, code);
}

bool IsDefaultMarker(const std::string& value) {
  return ascii::Upper(value).find("DEFAULT") != std::string::npos;
}

namespace {

// The exchange file is never the data file: the first write would destroy the data.
void CheckNotTheDataFile(const std::string& iniFileName, const std::string& dataFileName) {
  std::unique_ptr<DataFilePin> own;
  if (IsPinnedFile(iniFileName, PinFor(dataFileName, &own))) {
    RaiseError(kIniFileError,
               "Unable to write to " + iniFileName + ": it is the data file " + dataFileName);
  }
}

}  // namespace

std::int32_t ExportToIni(const std::string& dataFileName, const std::string& iniFileName) {
  CheckNotTheDataFile(iniFileName, dataFileName);
  LoadTargets(dataFileName);
  TIniItem item{iniFileName, "", "", ""};

  item.Section = "Documentation";
  WriteItem(item, "Actions", ActionNameList());
  WriteItem(item, "SearchMethods", SearchMethodNameList());

  item.Section = "Header";
  WriteItem(item, "Word1", IntToText(Targets.Word1));
  WriteItem(item, "Word3", IntToText(Targets.Word3));
  WriteItem(item, "NumEntries", IntToText(Targets.NumEntries));

  for (std::size_t index = 0; index < Targets.Entries.size(); ++index) {
    typEntry& entry = Targets.Entries[index];
    if (entry.WindowName[0] == '\0') SetFieldText(entry.WindowName, "<blank>");
    if (entry.ClassName[0] == '\0') SetFieldText(entry.ClassName, "<blank>");

    item.Section = "Entry" + std::to_string(index);
    WriteItem(item, "WindowName", ProtectValue(FieldText(entry.WindowName)));
    WriteItem(item, "ClassName", ProtectValue(FieldText(entry.ClassName)));
    WriteItem(item, "Action", ActionName(entry.Action));
    WriteItem(item, "SearchMethod", SearchMethodName(entry.SearchMethod));
    WriteItem(item, "SetPosition", BoolToYN(entry.SetPosition));
    WriteSizeKey(item, "PositionHorizontal", static_cast<std::uint16_t>(entry.PositionHorizontal));
    WriteSizeKey(item, "PositionVertical", static_cast<std::uint16_t>(entry.PositionVertical));
    WriteSizeKey(item, "SizeHorizontal", static_cast<std::uint16_t>(entry.SizeHorizontal));
    WriteSizeKey(item, "SizeVertical", static_cast<std::uint16_t>(entry.SizeVertical));
  }
  return Targets.NumEntries;
}

namespace {

// The import of an exchange file, once it is known not to be the data file.
std::int32_t ImportCheckedIni(const std::string& iniFileName, const std::string& dataFileName,
                              std::vector<std::string>* notLoaded) {
  Targets = typFile();
  ExchangeReader file(iniFileName);

  file.Enter("Header", ": this is no exchange file");
  const std::int32_t word1 = file.Integer("Word1", file.Value("Word1"));
  const std::int32_t word3 = file.Integer("Word3", file.Value("Word3"));
  const std::string version =
      "the version is " + std::to_string(word1) + "." + std::to_string(word3) + ", not 1.3";
  if (word1 != 1) file.Refuse(kConvertError, "Word1", version);
  if (word3 != 3) file.Refuse(kConvertError, "Word3", version);
  Targets.Word1 = static_cast<std::uint16_t>(word1);
  Targets.Word3 = static_cast<std::uint16_t>(word3);
  const std::string count_text = file.Value("NumEntries");
  Targets.NumEntries = file.Integer("NumEntries", count_text);
  if (Targets.NumEntries < 0 || Targets.NumEntries >= kTooManyEntries) {
    file.Refuse(kRangeError, "NumEntries",
                count_text + " is out of range (0 to " + std::to_string(kTooManyEntries - 1) + ")");
  }
  SizeEntries(Targets.NumEntries);

  file.Enter("Defaults", "");
  const DefaultValue defaults[] = {
      ReadDefault(file, "DefaultPositionHorizontal"), ReadDefault(file, "DefaultPositionVertical"),
      ReadDefault(file, "DefaultSizeHorizontal"), ReadDefault(file, "DefaultSizeVertical")};
  Targets.DefaultPositionHorizontal = defaults[0].value;
  Targets.DefaultPositionVertical = defaults[1].value;
  Targets.DefaultSizeHorizontal = defaults[2].value;
  Targets.DefaultSizeVertical = defaults[3].value;

  const std::string count_note = " (NumEntries is " + std::to_string(Targets.NumEntries) + ")";
  for (std::size_t index = 0; index < Targets.Entries.size(); ++index) {
    typEntry& entry = Targets.Entries[index];
    file.Enter("Entry" + std::to_string(index), count_note);
    SetFieldText(entry.WindowName, file.Name("WindowName", kWindowNameSize));
    SetFieldText(entry.ClassName, file.Name("ClassName", kClassNameSize));
    std::string value = file.Value("Action");
    if (!ActionFromName(value, &entry.Action)) {
      file.Refuse(kConvertError, "Action",
                  "'" + value + "' is not an action (" + ActionNameList() + ")");
    }
    value = file.Value("SearchMethod");
    if (!SearchMethodFromName(value, &entry.SearchMethod)) {
      file.Refuse(kConvertError, "SearchMethod",
                  "'" + value + "' is not a search method (" + SearchMethodNameList() + ")");
    }
    value = file.Value("SetPosition");
    if (!TryYNToBool(value, &entry.SetPosition)) {
      file.Refuse(kConvertError, "SetPosition", "'" + value + "' is neither Y nor N");
    }
    entry.PositionHorizontal = ReadSizeKey(file, "PositionHorizontal", defaults[0]);
    entry.PositionVertical = ReadSizeKey(file, "PositionVertical", defaults[1]);
    entry.SizeHorizontal = ReadSizeKey(file, "SizeHorizontal", defaults[2]);
    entry.SizeVertical = ReadSizeKey(file, "SizeVertical", defaults[3]);
  }
  if (notLoaded != nullptr) *notLoaded = SectionsBeyond(iniFileName, Targets.NumEntries);
  ReplaceKeepingCopy(dataFileName, EncodeTargets());
  return Targets.NumEntries;
}

// The whole file when it begins as a data file of format 1.3 does (Word1 1, Word3 3); false for
// any other file, which is read no further here, and for one that cannot be read, which the
// exchange file's reader reports.
bool ReadDataFileImage(const std::string& fileName, std::string* image) {
  static const char kStart[] = {1, 0, 3, 0};
  if (!FileStartsWith(fileName, std::string_view(kStart, sizeof kStart))) return false;
  inifile::FileStamp stamp;
  bool changed = true;
  for (int attempt = 0; attempt < 10 && changed; ++attempt) {
    if (inifile::ReadWholeFile(fileName, image, &stamp, &changed)) {
      return image->compare(0, sizeof kStart, kStart, sizeof kStart) == 0;
    }
  }
  return false;
}

}  // namespace

std::int32_t ImportFromIni(const std::string& iniFileName, const std::string& dataFileName,
                           std::vector<std::string>* notLoaded) {
  CheckNotTheDataFile(iniFileName, dataFileName);
  return ImportCheckedIni(iniFileName, dataFileName, notLoaded);
}

std::int32_t ImportFromFile(const std::string& fileName, const std::string& dataFileName,
                            std::vector<std::string>* notLoaded) {
  // Before anything is read: the data file is held for this run's import alone.
  CheckNotTheDataFile(fileName, dataFileName);
  std::string image;
  if (!ReadDataFileImage(fileName, &image)) {
    return ImportCheckedIni(fileName, dataFileName, notLoaded);
  }
  // A count that the file lacks bytes of reads as 0, whose file is the 8 bytes of the header.
  unsigned char count_bytes[4] = {0, 0, 0, 0};
  image.copy(reinterpret_cast<char*>(count_bytes), sizeof count_bytes, 4);
  const std::int32_t count = static_cast<std::int32_t>(GetU32(count_bytes));
  if (count < 0 || count >= kTooManyEntries) {
    RaiseError(kRangeError, fileName + ": NumEntries " + std::to_string(count) +
                                " is out of range (0 to " + std::to_string(kTooManyEntries - 1) +
                                ")");
  }
  const std::uint64_t size = kHeaderSize + static_cast<std::uint64_t>(count) * kEntrySize;
  if (image.size() != size) {
    RaiseError(kConvertError, fileName + ": a data file of " + std::to_string(count) +
                                  " entries has " + std::to_string(size) + " bytes, this one has " +
                                  std::to_string(image.size()));
  }
  ReplaceKeepingCopy(dataFileName, image);
  return count;
}
