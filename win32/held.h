// Other programs' open handles. An antivirus scanner, a backup or sync tool, or an editor may hold
// a file open for a moment in a way that makes this run's open, read, write or rename of it fail:
// with a sharing violation, a lock violation, or (for a rename onto a file that is open) access
// denied. Such a call is tried again with growing delays, about 2 s in all, as SQLite's Windows
// layer, Git for Windows and Go's tools do for the same reason; then its error stands.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Whether `error`, of a call on the file `path`, may come from another program's handle: a
// sharing violation (32) or a lock violation (33) always; access denied (5) only when neither the
// file's own attributes (read-only, a folder) nor its permissions refuse this user, as an open of
// it for writing and deleting, with all sharing allowed, tells.
bool MayBeHeldByAnother(DWORD error, const std::wstring& path);

// Calls `attempt` (0, or the Windows error of its failure) until it succeeds, fails for another
// reason than MayBeHeldByAnother(error, path), or about 2 s of waits have passed; its last result.
DWORD RetryWhileHeld(const std::wstring& path, const std::function<DWORD()>& attempt);

// How long the waits of one RetryWhileHeld are in all, in milliseconds.
DWORD HeldWaitMilliseconds();
