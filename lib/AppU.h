// Where the running program lives.
#pragma once

#include <string>

// The directory part of `programFile`, without a trailing separator except
// for a root ("C:\prog\tool.exe" gives "C:\prog", "C:\tool.exe" gives "C:\",
// "/tool" gives "/").
std::string DirectoryOfProgram(const std::string& programFile, char separator);

// The running program's directory.
std::string AppDir();
