// What a replacement keeps of the file it replaces on Windows.
#pragma once

#include <windows.h>

// Gives the new file `to` the security descriptor of `from` (its DACL, protected or inheriting as
// it was; the owner and group where this user may give them) and its hidden, system, archive and
// not-indexed attributes. `from` needs read access to its security, `to` write access to its
// DACL.
void KeepSecurityAndAttributes(HANDLE from, HANDLE to);

// The attributes that a replacement of a file with `old` attributes gets: its hidden, system and
// not-indexed ones kept, and always the archive attribute, which tells an incremental backup
// (robocopy /M, xcopy /M) that the file changed, whatever a backup tool cleared before.
DWORD ReplacementAttributes(DWORD old);

// Sets the archive attribute of the open file `file` (open with FILE_WRITE_ATTRIBUTES) unless it
// has it: a file that this run wrote is one to back up.
void MarkForBackup(HANDLE file);
