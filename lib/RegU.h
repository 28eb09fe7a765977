// Text values of the current user's registry.
#pragma once

#include <string>

// The text value `valueName` of `keyPath` under the current user's hive, or
// empty text when the key or the value is missing or empty. A value of a
// non-text type raises ERegistryException "Invalid data type for '<name>'".
std::string ReadUserRegString(const std::string& keyPath, const std::string& valueName);
