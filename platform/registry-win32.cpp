// The current user's registry through the Win32 registry functions.
#include "platform/registry.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/Errors.h"

namespace {

// Owns an open registry key.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

RegValue ReadUserRegValue(const std::string& keyPath, const std::string& valueName) {
  std::string path = keyPath;
  if (!path.empty() && path[0] == '\\') path.erase(0, 1);

  // Read access is all that is needed; a key the user may read but not change is found too.
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) {
    return RegValue();
  }

  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      size == 0) {
    return RegValue();
  }

  // The value may have changed since its size was taken; a failing second read is an error.
  std::vector<BYTE> data(size);
  DWORD got = size;
  if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, data.data(), &got) !=
      ERROR_SUCCESS) {
    RaiseError(kRegistryError, "Failed to get data for '" + valueName + "'");
  }

  RegValue value;
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    value.kind = RegValueKind::kNonText;
    return value;
  }
  const char* text = reinterpret_cast<const char*>(data.data());
  std::size_t length = 0;
  while (length < got && text[length] != '\0') ++length;
  value.kind = RegValueKind::kText;
  value.text.assign(text, length);
  return value;
}
