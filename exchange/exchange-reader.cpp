#include "exchange/exchange-reader.h"

#include <algorithm>

#include "base/Ascii.h"
#include "base/Errors.h"
#include "exchange/FramekeepU.h"
#include "lib/ConvertU.h"
#include "lib/IniU.h"

void ExchangeReader::Enter(const std::string& section, const std::string& whyNeeded) {
  section_ = section;
  whyNeeded_ = whyNeeded;
}

bool ExchangeReader::Find(const char* key, std::string* value) const {
  TIniItem item{fileName_, section_, key, ""};
  if (!ReadIniItem(item)) return false;
  *value = item.Value;
  return true;
}

std::string ExchangeReader::Value(const char* key) const {
  std::string value;
  if (Find(key, &value)) return value;
  if (!WhereIniItem(TIniItem{fileName_, section_, key, ""}).SectionFound) {
    RaiseError(kIniFileError, fileName_ + ": [" + section_ + "] is missing" + whyNeeded_);
  }
  RaiseError(kIniFileError, At(key) + " is missing");
}

void ExchangeReader::Refuse(const char* kind, const char* key, const std::string& what) const {
  RaiseError(kind, At(key) + ": " + what);
}

std::int32_t ExchangeReader::Integer(const char* key, const std::string& value) const {
  std::int32_t number = 0;
  if (!TryTextToInt(value, &number)) Refuse(kConvertError, key, NotAnInteger(value));
  return number;
}

std::uint16_t ExchangeReader::Position(const char* key, const std::string& value) const {
  const std::int32_t number = Integer(key, value);
  if (number < -32768 || number > 65535) {
    Refuse(kConvertError, key, value + " is out of range (-32768 to 65535)");
  }
  return static_cast<std::uint16_t>(number);
}

std::string ExchangeReader::Name(const char* key, std::size_t size) const {
  const std::string value = Value(key);
  if (value.size() > size) {
    Refuse(kConvertError, key,
           "the name has " + std::to_string(value.size()) + " characters, more than the " +
               std::to_string(size) + " that fit");
  }
  return value;
}

std::string ExchangeReader::At(const char* key) const {
  const TIniPlace place = WhereIniItem(TIniItem{fileName_, section_, key, ""});
  std::string at = fileName_;
  if (place.KeyFound) {
    at += ":" + std::to_string(place.KeyLine);
  } else if (place.SectionFound) {
    at += ":" + std::to_string(place.SectionLine);
  }
  return at + ": [" + section_ + "] " + key;
}

DefaultValue ReadDefault(const ExchangeReader& file, const char* key) {
  DefaultValue result{key};
  std::string text;
  if (file.Find(key, &text)) {
    result.present = true;
    result.value = file.Position(key, text);
  }
  return result;
}

// A position or size of an entry; a "Default" marker takes the value of its default.
std::uint32_t ReadSizeKey(const ExchangeReader& file, const char* keyName,
                          const DefaultValue& fallback) {
  const std::string value = file.Value(keyName);
  if (!IsDefaultMarker(value)) return file.Position(keyName, value);
  if (!fallback.present) {
    file.Refuse(kIniFileError, keyName,
                value + " needs " + fallback.key + " in [Defaults], which is missing");
  }
  return fallback.value;
}

namespace {

// Whether `name` is the section of an entry at or beyond `count`: "Entry" in any letter case,
// then the index as the import writes it (decimal, no leading zeros).
bool IsEntryBeyond(const std::string& name, std::int32_t count) {
  if (name.size() <= 5 || name.size() > 15 || !ascii::EqualNoCase(name.substr(0, 5), "Entry") ||
      (name[5] == '0' && name.size() > 6)) {
    return false;
  }
  std::int64_t index = 0;
  for (std::size_t i = 5; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    index = index * 10 + (name[i] - '0');
  }
  return index >= count;
}

}  // namespace

std::vector<std::string> SectionsBeyond(const std::string& fileName, std::int32_t count) {
  std::vector<std::string> beyond;
  for (const std::string& name : ReadIniSections(fileName)) {
    if (!IsEntryBeyond(name, count)) continue;
    const bool listed = std::any_of(beyond.begin(), beyond.end(), [&](const std::string& other) {
      return ascii::EqualNoCase(other, name);
    });
    if (!listed) beyond.push_back(name);
  }
  return beyond;
}
