// Where the product's Windows paths and registry live on this system: the Wine
// prefix in which the product runs.
#pragma once

#include <string>

// The prefix directory: $WINEPREFIX without its trailing slashes, or
// $HOME/.wine when WINEPREFIX is unset or empty (the password database's home
// directory when HOME is unset or empty too). Empty when no home is known.
std::string WinePrefix();

// A product path mapped onto this system's file names.
struct ResolvedPath {
  // The POSIX path. When `error` is 2, the path the missing file would have,
  // so that a caller that creates the file can use it.
  std::string path;
  // 0 when found, else a Windows-style code (see InOutCode in base/Errors.h):
  // 2 (file not found): everything exists but the last component;
  // 3 (path not found): a directory along the way or the drive is missing, or
  //   the path is a UNC path or empty;
  // 123 (invalid name): a component holds one of * ? < > | " or a NUL.
  // Where a directory cannot be searched, resolving stops, the rest of the path
  // is appended as given and the error is 0: opening it reports the failure.
  int error = 0;
};

// Maps a product path, as the product's own files and registry give it, onto a
// POSIX path, the way Wine does inside the prefix:
// - `X:\dir\file` goes through <prefix>/dosdevices/x:. Separators are `\` or
//   `/` and runs of them count as one; `.` and `..` are applied to the text
//   first, `..` stopping at the drive's root; trailing dots and spaces of the
//   last component are dropped. `X:file` is taken as `X:\file`.
// - Each component is taken as written when that name exists, else the
//   directory is searched for a name that differs only in ASCII letter case
//   (the smallest such name, byte-wise, when there are several).
// - A path that starts with `/` is a POSIX path and is used as it is.
// - A path that starts with one `\` is rooted: it is on the current drive, and
//   the program is started from drive C:, so it goes through drive C:.
// - `\\?\X:\dir` is `X:\dir`. Only the backslash form counts: `//?/X:/dir`
//   starts with `/`, so it is a POSIX path. What follows the prefix is taken as
//   any drive path is (Windows would take it as written, without `.`, `..` or
//   the trailing dots applied).
// - Any other path that starts with two separators (UNC, also `\\?\UNC\...`)
//   is not supported (error 3).
// - Any other path is relative to the current directory, matched like a
//   drive path.
ResolvedPath ResolveProductPath(const std::string& productPath);

// The same, with the prefix given instead of taken from WinePrefix().
ResolvedPath ResolveProductPath(const std::string& productPath, const std::string& prefix);
