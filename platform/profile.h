// Items of INI files, read and written as the Windows profile functions read and write them
// (GetPrivateProfileStringA, WritePrivateProfileStringA and its flush), on both platforms, but
// never normalising the file: a write changes only the bytes of the item it writes. The text's
// rules are the INI library's (ini/document.h, ini/edit.h); this is the file's side: its
// encoding's conversions to and from the ANSI code page, its reads, and its writes, each item
// locked, written through and reported.
//
// An IniItems keeps the last file it used, with its index, in memory. Every call first checks the
// file's identity, size and timestamps against that copy and reads the file again when anything
// differs, so an edit by another program is always seen.
#pragma once

#include <memory>
#include <string>

class IniItems {
 public:
  // With the ANSI code page of the user's locale, or the one given, for the Unicode files.
  IniItems();
  explicit IniItems(unsigned code_page);
  ~IniItems();
  IniItems(const IniItems&) = delete;
  IniItems& operator=(const IniItems&) = delete;

  // Reads like GetPrivateProfileStringA(section, key, default, buf, 2048, file), but when the
  // file, the section or the key is absent (or the key's line has no '='), it returns false and
  // leaves *value exactly as it was. Found: *value is the value trimmed of blanks, then cut at a
  // NUL byte, then freed of one enclosing pair of matching quotes (" or '), at most 2047
  // characters; returns true. A file that cannot be read counts as absent.
  bool Read(const std::string& file, const std::string& section, const std::string& key,
            std::string* value);

  // Writes like WritePrivateProfileStringA(section, key, value, file) followed by the flush
  // call: the item is written to the file before it returns. Returns false when the file cannot
  // be written (missing directory, no permission, a directory name...). Values must not hold CR
  // or LF; names and the value end at a NUL byte, as they would in the Windows call.
  //
  // Writes never put bytes where another program may just have put its own: an append goes to
  // the file's true end, and is kept where a read finds it; an edit in place writes only bytes
  // that are there already; everything else replaces the whole file (platform/replace.h), and
  // what another program appended meanwhile is carried over.
  bool Write(const std::string& file, const std::string& section, const std::string& key,
             const std::string& value);

  struct Copy;  // the file as last seen

 private:
  std::unique_ptr<Copy> copy_;
  unsigned code_page_;
};
