// The error kinds every layer may raise. Expected conditions are not errors: they stop the run
// with an exit code (app/Stop.h). Everything else raises a ToolError, which only the top-level
// report in app/ catches.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

// Kind names as the error report prints them.
extern const char* const kInOutError;     // "EInOutError"
extern const char* const kConvertError;   // "EConvertError"
extern const char* const kIniFileError;   // "EIniFileException"
extern const char* const kRegistryError;  // "ERegistryException"
extern const char* const kRangeError;     // "ERangeError"
extern const char* const kOutOfMemory;    // "EOutOfMemory"

class ToolError : public std::exception {
 public:
  ToolError(const char* kind, std::string message, std::uintptr_t address)
      : kind_(kind), message_(std::move(message)), address_(address) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const char* Kind() const { return kind_; }
  const std::string& Message() const { return message_; }
  // Code address of the failing operation, absolute; the report makes it
  // relative to the module's base.
  std::uintptr_t Address() const { return address_; }

 private:
  const char* kind_;
  std::string message_;
  std::uintptr_t address_;
};

// Raises a ToolError whose address is the caller's return address.
[[noreturn]] void RaiseError(const char* kind, const std::string& message);

// Raises EInOutError for a Windows-style error code: 2 "File not found",
// 3 "Invalid filename", 4 "Too many open files", 5 "File access denied",
// anything else "I/O error <code>".
[[noreturn]] void RaiseInOutError(int code);

// Windows-style codes used by the platform layers when they map their own
// errors onto the tool's messages.
enum InOutCode : int {
  kFileNotFound = 2,
  kPathNotFound = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
};

// A platform's own error number, shown as "I/O error <number>" whatever the number, so that one
// that equals a code above (EIO is 5 on Linux) is not taken for it.
constexpr int PlainIoError(int number) { return number | 0x40000000; }

// The message RaiseInOutError uses for a code.
std::string InOutMessage(int code);
