#include "exchange/FramekeepU.h"

#include <algorithm>
#include <memory>
#include <new>

#include "base/Ascii.h"
#include "base/Errors.h"
#include "lib/ConvertU.h"
#include "lib/IniU.h"
#include "platform/files.h"

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

void ReadItem(TIniItem& item, const char* key) {
  item.Key = key;
  ReadIniItem(item);
}

// Keeps a "Default" marker that the file holds; writes the number otherwise.
void WriteSizeKey(TIniItem item, const char* keyName, std::uint16_t value) {
  item.Key = keyName;
  ReadIniItem(item);
  if (IsDefaultMarker(item.Value)) return;
  item.Value = std::to_string(value);
  WriteIniItem(item);
}

std::int32_t ReadSizeKey(TIniItem item, const char* keyName, std::uint16_t defaultValue) {
  item.Key = keyName;
  ReadIniItem(item);
  if (IsDefaultMarker(item.Value)) item.Value = std::to_string(defaultValue);
  return TextToInt(item.Value);
}

template <std::size_t N>
void ReadNameInto(TIniItem& item, const char* key, std::array<char, N>& field) {
  ReadItem(item, key);
  if (item.Value.size() > N) {
    RaiseError(kConvertError, std::string(key) + " in section " + item.Section +
                                  " is longer than " + std::to_string(N) + " characters");
  }
  SetFieldText(field, item.Value);
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

void SaveTargets(const std::string& fileName) {
  std::string bytes(kHeaderSize + Targets.Entries.size() * kEntrySize, '\0');
  unsigned char* p = reinterpret_cast<unsigned char*>(&bytes[0]);
  PutU16(Targets.Word1, p);
  PutU16(Targets.Word3, p + 2);
  PutU32(static_cast<std::uint32_t>(Targets.NumEntries), p + 4);
  for (std::size_t i = 0; i < Targets.Entries.size(); ++i) {
    EncodeEntry(Targets.Entries[i], p + kHeaderSize + i * kEntrySize);
  }
  std::unique_ptr<DataFilePin> own;
  ReplaceDataFile(PinFor(fileName, &own), bytes);
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

std::int32_t ActionFromName(const std::string& text) {
  for (std::int32_t code = 1; code <= 5; ++code) {
    if (text == kActionNames[code - 1]) return code;
  }
  return 0;
}

std::int32_t SearchMethodFromName(const std::string& text) {
  for (std::int32_t code = 0; code <= 2; ++code) {
    if (text == kSearchMethodNames[code]) return code;
  }
  return 0;
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

std::int32_t ImportFromIni(const std::string& iniFileName, const std::string& dataFileName) {
  CheckNotTheDataFile(iniFileName, dataFileName);
  Targets = typFile();
  TIniItem item{iniFileName, "", "", ""};

  item.Section = "Header";
  ReadItem(item, "Word1");
  Targets.Word1 = static_cast<std::uint16_t>(TextToInt(item.Value));
  ReadItem(item, "Word3");
  Targets.Word3 = static_cast<std::uint16_t>(TextToInt(item.Value));
  ReadItem(item, "NumEntries");
  Targets.NumEntries = TextToInt(item.Value);
  SizeEntries(Targets.NumEntries);

  item.Section = "Defaults";
  ReadItem(item, "DefaultPositionHorizontal");
  Targets.DefaultPositionHorizontal = static_cast<std::uint16_t>(TextToInt(item.Value));
  ReadItem(item, "DefaultPositionVertical");
  Targets.DefaultPositionVertical = static_cast<std::uint16_t>(TextToInt(item.Value));
  ReadItem(item, "DefaultSizeHorizontal");
  Targets.DefaultSizeHorizontal = static_cast<std::uint16_t>(TextToInt(item.Value));
  ReadItem(item, "DefaultSizeVertical");
  Targets.DefaultSizeVertical = static_cast<std::uint16_t>(TextToInt(item.Value));

  for (std::size_t index = 0; index < Targets.Entries.size(); ++index) {
    typEntry& entry = Targets.Entries[index];
    item.Section = "Entry" + std::to_string(index);
    ReadNameInto(item, "WindowName", entry.WindowName);
    ReadNameInto(item, "ClassName", entry.ClassName);
    ReadItem(item, "Action");
    entry.Action = ActionFromName(item.Value);
    ReadItem(item, "SearchMethod");
    entry.SearchMethod = SearchMethodFromName(item.Value);
    ReadItem(item, "SetPosition");
    entry.SetPosition = YNToBool(item.Value) ? 1 : 0;
    auto low16 = [](std::int32_t v) { return static_cast<std::uint32_t>(v) & 0xFFFFu; };
    entry.PositionHorizontal =
        low16(ReadSizeKey(item, "PositionHorizontal", Targets.DefaultPositionHorizontal));
    entry.PositionVertical =
        low16(ReadSizeKey(item, "PositionVertical", Targets.DefaultPositionVertical));
    entry.SizeHorizontal =
        low16(ReadSizeKey(item, "SizeHorizontal", Targets.DefaultSizeHorizontal));
    entry.SizeVertical = low16(ReadSizeKey(item, "SizeVertical", Targets.DefaultSizeVertical));
  }
  SaveTargets(dataFileName);
  return Targets.NumEntries;
}
