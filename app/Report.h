// The error report for an error that ends the run, and the one place that catches errors.
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

// Runs the program's body and flushes its output. A stop ends it with its exit code; any error,
// the tool's own or one of the C++ library's, ends it with the report on standard error (after
// the pending output) and exit code 1.
int RunReportingErrors(void (*body)());
