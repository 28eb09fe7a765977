#include "lib/RegU.h"

#include "base/Errors.h"
#include "platform/registry.h"

std::string ReadUserRegString(const std::string& keyPath, const std::string& valueName) {
  RegValue value = ReadUserRegValue(keyPath, valueName);
  if (value.kind == RegValueKind::kNonText) {
    RaiseError(kRegistryError, "Invalid data type for '" + valueName + "'");
  }
  return value.kind == RegValueKind::kText ? value.text : std::string();
}
