// The folders that the tool keeps files of its own in, for one user (Windows builds only):
// %LOCALAPPDATA%\Keepxfer, which survives a restart, else %TEMP%\Keepxfer. A sub-folder of either
// can be asked for.
#pragma once

#include <string>

enum class StatePlace { kStateFolder, kTemporaryFolder };

// The folder `sub` (empty for the folder itself) of `place` as a long path ending in a separator,
// made (with the Keepxfer folder) when `make` is set; empty when the place is not known. When it
// cannot be made, *error (if given) is the error.
std::wstring StateFolder(StatePlace place, const std::wstring& sub, bool make,
                         unsigned long* error = nullptr);
