// Maps errno values onto the tool's input/output codes (POSIX builds only).
#pragma once

// ENOENT 2, ENOTDIR/ENAMETOOLONG 3, EMFILE/ENFILE 4, EACCES/EPERM/EROFS 5,
// anything else the errno value itself, as a plain "I/O error" number.
int InOutCodeFromErrno(int err);

// Raises EInOutError for the errno value `err`.
[[noreturn]] void RaiseErrno(int err);
