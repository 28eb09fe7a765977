// What a replacement keeps of the file it replaces on Windows.
#pragma once

#include <windows.h>

// Gives the new file `to` the security descriptor of `from` (its DACL, protected or inheriting as
// it was; the owner and group where this user may give them) and its hidden, system, archive and
// not-indexed attributes. `from` needs read access to its security, `to` write access to its
// DACL.
void KeepSecurityAndAttributes(HANDLE from, HANDLE to);
