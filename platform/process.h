// Process services: the command line, the program's own file name, the
// standard streams and the module base for error addresses.
#pragma once

#include <cstdint>
#include <string>

// The whole command line as one text, program path first, in the form the
// Windows command line has: arguments joined by single spaces, an argument
// with a blank or a double quote in it (or an empty one) written inside double
// quotes with each double quote doubled.
std::string ProcessCommandLine();

// The running program's full file name. Raises EInOutError when the system cannot tell it.
std::string ProgramFileName();

// The same for the error report, which must not fail: the name the program was started by when
// the full one cannot be told.
std::string ProgramFileNameForReport();

// The platform's path separator ('\\' on Windows, '/' elsewhere).
char PathSeparator();

// True when `path` names a file without reference to a current directory:
// on POSIX a path beginning with '/', on Windows a drive-qualified, UNC or
// rooted path.
bool IsAbsolutePath(const std::string& path);

// Why `name`, given for a file with -Fil or -Bak, names no file of its own on this platform; empty
// when it does. On Windows: a drive-relative name ("D:rules.ini" is a file in drive D's current
// folder, which the tool would take in its own folder as a stream of a file "D"), and a ':' after
// the drive (it names a stream of another file). Elsewhere every name is one.
std::string WhyNoFileName(const std::string& name);

// True when standard output is a character device (a console).
bool StdoutIsConsole();

// Writes all of `bytes` to standard output; on failure returns the error code
// for "I/O error %d" or one of the InOutCode values, else 0.
int WriteStdout(const std::string& bytes);

// Writes the error report text to standard error, converted to the console's
// code page where the platform has one. Failures are ignored.
void WriteStderrReport(const std::string& text);

// `address` relative to the base of the module that holds it.
std::uintptr_t ModuleOffset(std::uintptr_t address);

// Prepares the process, given main's arguments: on POSIX they are the command line, and a
// closed pipe must not kill the process.
void InitProcess(int argc, char** argv);
