// Names of files on Windows. The tool's names are 8-bit text in the ANSI code page, and the ANSI
// file functions stop at 260 characters (even in the \\?\ form), so the file layers turn every
// name into the wide form that the wide-character functions take at any length.
#pragma once

#include <string>

// `ansi` in UTF-16, from the ANSI code page; and back.
std::wstring Widen(const std::string& ansi);
std::string Narrow(const std::wstring& wide);

// The full name of `name` in the \\?\ form (\\?\C:\dir\file, \\?\UNC\server\share\file): made
// absolute against the current folder first, with "." and ".." applied and "/" taken as "\".
// A name already in that form is kept as it is.
std::wstring LongPath(const std::string& name);
std::wstring LongPath(const std::wstring& name);

// The folder part of a full name, with its separator at the end, and the name in the folder.
std::wstring FolderOf(const std::wstring& path);
std::wstring LeafOf(const std::wstring& path);
