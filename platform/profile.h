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

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

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

  // With `on`, a file without a byte-order mark that is valid UTF-8 as a whole and holds a
  // character beyond ASCII reads as UTF-8, as an editor that saves "UTF-8" without a mark means it
  // (the profile functions read it as ANSI); and a write that would make an ANSI file read so,
  // through the bytes of its item, writes the whole file as UTF-8 instead, without a mark, so that
  // every read gives back what was written. Off until set.
  void SetMarklessUtf8(bool on);

  // Where an item stands, for messages: whether the file has its section and the key in it (the
  // first of each, matched as Read matches them; a key line without '=' counts), and the 1-based
  // numbers of their lines, a line ending at CR, LF or CR LF. Nothing is found in a file that
  // cannot be read.
  struct Place {
    bool section_found = false;
    std::size_t section_line = 0;
    bool key_found = false;
    std::size_t key_line = 0;
  };
  Place Where(const std::string& file, const std::string& section, const std::string& key);

  // The names of the file's sections in file order, each as often as it stands there, in the
  // 8-bit text that Read gives values in; none for a file that cannot be read.
  std::vector<std::string> SectionNames(const std::string& file);

  struct Copy;  // the file as last seen

 private:
  std::unique_ptr<Copy> copy_;
  unsigned code_page_;
};
