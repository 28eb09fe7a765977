// The error report for an error that ends the run.
#pragma once

#include <cstdint>
#include <string>

// "Exception <kind> in module <module> at <offset>." CR LF, the message with a
// full stop unless it is empty or has one, CR LF, and one empty line; at most
// 1024 characters.
std::string FormatErrorReport(const std::string& kind, const std::string& module,
                              std::uint64_t offset, const std::string& message);

// The program file's name without its directory.
std::string ModuleName(const std::string& programFile);
