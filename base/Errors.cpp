#include "base/Errors.h"

const char* const kInOutError = "EInOutError";
const char* const kConvertError = "EConvertError";
const char* const kIniFileError = "EIniFileException";
const char* const kRegistryError = "ERegistryException";
const char* const kRangeError = "ERangeError";
const char* const kOutOfMemory = "EOutOfMemory";

namespace {

[[noreturn]] __attribute__((noinline)) void Throw(const char* kind, const std::string& message,
                                                  void* address) {
  throw ToolError(kind, message, reinterpret_cast<std::uintptr_t>(address));
}

}  // namespace

__attribute__((noinline)) void RaiseError(const char* kind, const std::string& message) {
  Throw(kind, message, __builtin_return_address(0));
}

std::string InOutMessage(int code) {
  if ((code & PlainIoError(0)) != 0) return "I/O error " + std::to_string(code & ~PlainIoError(0));
  switch (code) {
    case kFileNotFound:
      return "File not found";
    case kPathNotFound:
      return "Invalid filename";
    case kTooManyOpenFiles:
      return "Too many open files";
    case kAccessDenied:
      return "File access denied";
    default:
      return "I/O error " + std::to_string(code);
  }
}

__attribute__((noinline)) void RaiseInOutError(int code) {
  Throw(kInOutError, InOutMessage(code), __builtin_return_address(0));
}
