// The Win32 file calls that the file layers share (Windows builds only): opens and reads that wait
// for other programs' handles (held.h), a file's identity, and its size.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Opens the existing file `path` with `rights`, all sharing allowed, waiting for other programs'
// handles; an invalid handle with the error set (GetLastError) when it cannot.
HANDLE OpenWaiting(const std::wstring& path, DWORD rights, DWORD flags = FILE_ATTRIBUTE_NORMAL);

// The identity of an open file: its volume's serial number and its index there; its attributes.
bool Identify(HANDLE file, DWORD* volume, std::uint64_t* index, DWORD* attributes = nullptr);

// Reads into `buffer` at the file's position, waiting while another program's lock covers it; 0,
// or the error.
DWORD ReadSome(HANDLE file, char* buffer, DWORD size, DWORD* got);

// The whole file into *bytes, from its start; false (with the error set) when it cannot be read.
bool ReadAll(HANDLE file, std::string* bytes);

// Sets the file's size; 0, or the error.
DWORD SetSize(HANDLE file, std::uint64_t size);
