// An INI file's text as the Windows profile functions read it, with an index of its sections and
// keys: handed the file's bytes, it answers where an item stands and what it holds. It opens
// nothing; the INI file service (platform/profile.h) holds the bytes and the file.
//
// The text is the file's as 8-bit text: an ANSI or UTF-8 file as its bytes, a UTF-16 file turned
// into UTF-8 (ini/text.h). The characters that make the structure are ASCII in all of them, so
// the structure is the one Windows sees in the decoded text. Lines before the first section belong
// to the section "". Names match without regard to ASCII letter case; the first matching section,
// and the first matching key in it, are the ones read and written. Keys are found through the
// offsets of their lines, so the index holds no copies of names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ini/name-index.h"
#include "ini/text.h"

namespace ini {

// Offsets into a file are kept in 32 bits; a larger file counts as unreadable.
constexpr std::uint64_t kMaxFileSize = 0xFFFFFF00u;

struct Section {
  std::uint32_t begin;       // offset of its '['; for the section "", the start of the text
  std::uint32_t last_entry;  // start of its last non-empty line (its header if none), or kNone
};

struct Document {
  IniEncoding encoding = IniEncoding::kAnsi;
  std::string mark;             // a UTF-16 file's byte-order mark, which is not in `content`
  std::string odd;              // a UTF-16 file's odd last byte, no part of its text
  std::uint64_t file_size = 0;  // the file's size as the text describes it
  std::string content;
  std::size_t body = 0;           // behind a UTF-8 byte-order mark
  std::string_view eol = "\r\n";  // the line end that added lines get
  std::vector<Section> sections;  // in file order; [0] is the section ""
  NameIndex section_names;        // section number by name
  NameIndex keys;                 // line offset by section number and key name
  // Whether a file without a mark that is valid UTF-8 beyond ASCII reads as UTF-8 (ini/text.h).
  bool markless_utf8 = false;

  // Takes the file's bytes, in the encoding they tell, and indexes them.
  void Load(std::string raw);
  bool IsUtf16() const {
    return encoding == IniEncoding::kUtf16Le || encoding == IniEncoding::kUtf16Be;
  }
  // The file's bytes for a piece of the text.
  std::string FileBytes(std::string_view text) const;

  // The number of the first section named `name`, or kNone.
  std::uint32_t FindSection(std::string_view name) const;
  // The offset of the first line of section `section` whose key is `key`, or kNone.
  std::uint32_t FindKey(std::uint32_t section, std::string_view key) const;
  // The value stored under `section` and `key` (names as the text has them): trimmed, cut at a
  // NUL, not yet unquoted. False when the section or the key is absent, or its line has no '='.
  bool Find(std::string_view section, std::string_view key, std::string_view* value) const;

  // Indexes the whole text again.
  void IndexAll();
  // Indexes the key line at `offset` of section `section`, unless the section has that key on an
  // earlier line.
  void IndexKey(std::uint32_t section, std::string_view key, std::uint32_t offset);
  // Adds the lines of content[from, to) to the index; `from` is the start of a line, and the
  // lines belong to the last indexed section until a section line comes.
  void IndexLines(std::size_t from, std::size_t to);

  // Takes in `raw`, the file as it is now. When it is the text with whole key lines put in at one
  // place, or one key line's value changed (what another run's write of an item makes), and maybe
  // more lines behind the text's last whole line (what another program appends), the index
  // follows the change; anything else is indexed afresh.
  void Follow(std::string raw);

 private:
  // The line end of the text's first line, which added lines get.
  void DetectLineEnd();
  // Follow's cases of a change at `at`, the start of the first line that differs: whole key
  // lines put in there; the value of the key line there changed. *matched is the size of the
  // text that `raw` holds, behind which are appended lines.
  bool FollowInsertion(std::string& raw, std::size_t at, std::size_t* matched);
  bool FollowValue(std::string& raw, std::size_t at, std::size_t common, std::size_t* matched);

 public:
  std::string_view SectionNameAt(std::uint32_t index) const;
  // The section whose lines `offset` is among (lines put in at the start of a section's header
  // line belong to the section before it).
  std::uint32_t SectionAt(std::size_t offset) const;
  // Moves every offset from `from` on by `delta` bytes.
  void Shift(std::size_t from, std::int64_t delta);

  // The 1-based number of the line that holds `offset`, a line ending at CR, LF or CR LF.
  std::size_t LineOf(std::size_t offset) const;
};

}  // namespace ini
