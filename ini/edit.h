// How one item is stored in an INI file's text, as WritePrivateProfileStringA stores it but
// without normalising the file: an edit changes only the bytes of the item it writes. An existing
// key gets its value in place (its spelling and everything up to its '=' stay); a new key goes
// behind the last entry of its section, before the lines that follow it; a new section goes at
// the end, on a line of its own. Added lines get the file's own line end.
//
// Each function here works on the text alone; the INI file service writes the edit the cheapest
// safe way (an append at the true end, the same number of bytes in place, or a replacement of the
// whole file) and then brings the text up to date with the matching Took* function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ini/document.h"

namespace ini {

// One change to the text: `erase` bytes at `pos` become `text`.
struct Edit {
  std::size_t pos = 0;
  std::size_t erase = 0;
  std::string text;
  bool adds_lines = false;
  std::uint32_t section = kNone;  // where an added key line belongs

  bool IsAppendTo(const Document& doc) const {
    return erase == 0 && pos == doc.content.size() && doc.odd.empty();
  }
  bool IsSameLength() const { return text.size() == erase; }
};

// Works out how to store `value` under `section` and `key` (names and value as the text has them,
// trimmed as the Windows call trims them). False when the text holds that value already and
// nothing is to change.
bool PlanEdit(const Document& doc, std::string_view section, std::string_view key,
              std::string_view value, Edit* edit);

// The text with `edit` applied.
std::string Edited(const std::string& content, const Edit& edit);

// Whether `edit` would make the ANSI file of the text read as UTF-8 (Document::markless_utf8).
bool BecomesUtf8(const Document& doc, const Edit& edit);

// The text after `edit` was written in place (the same number of bytes).
void TookInPlace(Document* doc, const Edit& edit);

// The text after the whole file was replaced by `next`, which is the text with `edit` applied.
void TookReplacement(Document* doc, const Edit& edit, std::string next, std::uint64_t written);

// The text after `edit` was appended: its `written` bytes landed at `at` in a file that the text
// describes up to file_size, behind `between`, what another program appended in the meantime
// (nothing, as a rule). False when a read would not find the item `section`, `key` there:
// `between` ends in the middle of a line, or holds the item's section or key, or the file is
// UTF-16; the text is then no longer the file's.
bool TookAppend(Document* doc, const Edit& edit, std::uint64_t at, std::uint64_t written,
                const std::string& between, std::string_view section, std::string_view key);

}  // namespace ini
