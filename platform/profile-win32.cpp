// Profile items through the Windows profile functions.
#include "platform/profile.h"

#include <windows.h>

#include <string>

namespace {

constexpr DWORD kBufferSize = 2048;

// Defaults no INI file is expected to hold. The profile functions give a default back when
// the item is absent; an item that does hold the first one is told apart by the second.
const char kAbsent1[] = "\x01<keepxfer: no such item>\x02";
const char kAbsent2[] = "\x02<keepxfer: no such item>\x01";

std::string Query(const std::string& file, const std::string& section, const std::string& key,
                  const char* fallback) {
  char buffer[kBufferSize];
  DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback, buffer,
                                          kBufferSize, file.c_str());
  return std::string(buffer, length);
}

}  // namespace

bool ProfileRead(const std::string& file, const std::string& section, const std::string& key,
                 std::string* value) {
  std::string found = Query(file, section, key, kAbsent1);
  if (found == kAbsent1) {
    found = Query(file, section, key, kAbsent2);
    if (found == kAbsent2) return false;
  }
  *value = found;
  return true;
}

bool ProfileWrite(const std::string& file, const std::string& section, const std::string& key,
                  const std::string& value) {
  if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str())) {
    return false;
  }
  // The flush call reports FALSE by design; its result tells nothing.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());
  return true;
}
