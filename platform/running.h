// Whether the product is running: a program of the current user runs from its installation
// folder.
#pragma once

#include <string>

// True when a process of the current user, other than this one, runs a program file that lies
// directly in `folder` (a product path, as the registry gives the installation folder; compared
// without regard to letter case). Processes that cannot be looked at are passed over. On POSIX
// the product runs under Wine: a Wine process counts when its prefix is the one this run reads.
bool IsProgramRunningFrom(const std::string& folder);

// Whether the program file `program` lies directly in `folder`, both Windows paths, compared as
// Windows compares folder names: without regard to ASCII letter case, with '/' and '\' alike, and
// runs of them, or one at the end, as one. A program in a subfolder, or in a folder whose name
// only begins like `folder`'s, does not count.
bool IsDirectlyInFolder(const std::string& program, const std::string& folder);
