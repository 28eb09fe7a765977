// What a piece of the tool raises, as "Kind: message".
#pragma once

#include <functional>
#include <string>

#include "base/Errors.h"

// "Kind: message" of the tool error that `action` raises; "" when it raises none.
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ToolError& e) {
    return std::string(e.Kind()) + ": " + e.Message();
  }
  return "";
}
