// The INI reader and writer of platforms without profile functions. It reads and writes single
// items the way GetPrivateProfileStringA and WritePrivateProfileStringA do, but never
// normalises the file: a write changes only the bytes of the item it writes.
//
// Parsing: a line ends at any run of CR/LF; blanks are 0x09-0x0D, 0x20 and 0x1A; a trimmed line
// that starts with '[' and holds a ']' names a section (up to the last ']'); any other line is a
// key, split at its first '='. Lines before the first section belong to the section "". Names
// match without regard to ASCII letter case; the first matching section and the first matching
// key in it are the ones read and written. A UTF-8 byte-order mark is skipped and kept; any
// other file (UTF-16 included) is taken as 8-bit text.
//
// An engine keeps the last file it used, with an index of its sections and keys, in memory.
// Every call first checks the file's identity, size and timestamps against that copy and reads
// the file again when anything differs, so an edit by another program is always seen.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class IniEngine {
 public:
  // With the ANSI code page of the user's locale, or the one given, for the files with a
  // byte-order mark (ini/text.h).
  IniEngine();
  explicit IniEngine(unsigned code_page);
  ~IniEngine();
  IniEngine(const IniEngine&) = delete;
  IniEngine& operator=(const IniEngine&) = delete;

  // Reads like GetPrivateProfileStringA(section, key, default, buf, 2048, file), but when the
  // file, the section or the key is absent (or the key's line has no '='), it returns false and
  // leaves *value exactly as it was. Found: *value is the value trimmed of blanks, then cut at a
  // NUL byte, then freed of one enclosing pair of matching quotes (" or '), at most 2047
  // characters; returns true. A file that cannot be read counts as absent.
  bool Read(const std::string& file, const std::string& section, const std::string& key,
            std::string* value);

  // Writes like WritePrivateProfileStringA(section, key, value, file) followed by the flush
  // call: the complete file is written to the OS before it returns. Returns false when the file
  // cannot be written (missing directory, no permission, a directory name...). Values must not
  // hold CR or LF; names and the value end at a NUL byte, as they would in the Windows call.
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

 private:
  struct Snapshot;
  std::unique_ptr<Snapshot> file_;
  unsigned code_page_;
};
