#include "ini/edit.h"

#include <utility>

#include "ini/lines.h"

namespace ini {

namespace {

void AppendKeyLine(std::string* out, std::string_view key, std::string_view value,
                   std::string_view eol) {
  out->append(key).append("=").append(value).append(eol);
}

// A new section at the end, on a line of its own.
void PlanNewSection(const Document& doc, std::string_view section, std::string_view key,
                    std::string_view value, Edit* edit) {
  const std::string& c = doc.content;
  edit->pos = c.size();
  if (c.size() > doc.body && !IsLineEnd(c.back())) edit->text.append(doc.eol);
  edit->text.append("[").append(section).append("]").append(doc.eol);
  AppendKeyLine(&edit->text, key, value, doc.eol);
  edit->adds_lines = true;
}

// The value of the key whose line starts at `line_start` replaced; everything up to its '='
// stays. False when it holds that value already.
bool PlanNewValue(const Document& doc, std::uint32_t line_start, std::string_view value,
                  Edit* edit) {
  const std::string& c = doc.content;
  std::size_t raw_end = c.find_first_of("\r\n", line_start);
  if (raw_end == std::string::npos) raw_end = c.size();
  std::string_view line = LineText(c, line_start);
  std::size_t eq = line.find('=');
  if (eq != std::string_view::npos) {
    if (CutAtNul(Trim(line.substr(eq + 1))) == value) return false;
    edit->pos = line_start + eq + 1;
  } else {
    edit->pos = line_start + line.size();
    edit->text = "=";
  }
  edit->erase = raw_end - edit->pos;
  edit->text.append(value);
  return c.compare(edit->pos, edit->erase, edit->text) != 0;
}

// A new key behind the last entry of section `index`, before the lines that follow it.
void PlanNewKey(const Document& doc, std::uint32_t index, std::string_view key,
                std::string_view value, Edit* edit) {
  const std::string& c = doc.content;
  edit->adds_lines = true;
  edit->section = index;
  std::uint32_t last = doc.sections[index].last_entry;
  if (last == kNone) {
    edit->pos = doc.body;
  } else {
    std::size_t p = c.find_first_of("\r\n", last);
    if (p == std::string::npos) {
      p = c.size();
      edit->text.append(doc.eol);
    } else {
      p += c.compare(p, 2, "\r\n") == 0 ? 2 : 1;
    }
    edit->pos = p;
  }
  AppendKeyLine(&edit->text, key, value, doc.eol);
  // A key line at the very start of an 8-bit file must not begin with the bytes of a
  // byte-order mark, which reading would take for one: it goes behind an empty line.
  std::size_t mark = 0;
  if (edit->pos == 0 && doc.encoding == IniEncoding::kAnsi &&
      DetectEncoding(edit->text, &mark) != IniEncoding::kAnsi) {
    edit->text.insert(0, doc.eol);
  }
}

// Updates the index for an edit that moved the lines behind it: their offsets move, and an added
// key line joins its section. False when the added text is not one plain key line; then the
// index has to be built again.
bool ShiftIndex(Document* doc, const Edit& edit) {
  std::string_view added = Trim(edit.text);
  std::string_view name;
  if (edit.adds_lines && (added.empty() || added.find_first_of("\r\n") != std::string::npos ||
                          IsSectionLine(added, &name))) {
    return false;
  }
  doc->Shift(edit.pos,
             static_cast<std::int64_t>(edit.text.size()) - static_cast<std::int64_t>(edit.erase));
  if (edit.adds_lines) {
    const std::uint32_t offset =
        static_cast<std::uint32_t>(edit.pos + (added.data() - edit.text.data()));
    doc->sections[edit.section].last_entry = offset;
    doc->IndexKey(edit.section, KeyOf(added), offset);
  }
  return true;
}

// A value can make its key line look like a section line ("[k" given the value "v]" reads as the
// section "k=v"), as it does to the profile functions; the index then follows the line's new
// nature.
void ReindexIfItBecameASection(Document* doc, std::size_t pos) {
  std::size_t begin = pos;
  while (begin > doc->body && !IsLineEnd(doc->content[begin - 1])) --begin;
  while (begin < doc->content.size() && IsBlank(doc->content[begin])) ++begin;
  std::string_view name;
  if (IsSectionLine(LineText(doc->content, begin), &name)) doc->IndexAll();
}

}  // namespace

bool PlanEdit(const Document& doc, std::string_view section, std::string_view key,
              std::string_view value, Edit* edit) {
  const std::uint32_t index = doc.FindSection(section);
  if (index == kNone) {
    PlanNewSection(doc, section, key, value, edit);
    return true;
  }
  const std::uint32_t line_start = doc.FindKey(index, key);
  if (line_start != kNone) return PlanNewValue(doc, line_start, value, edit);
  PlanNewKey(doc, index, key, value, edit);
  return true;
}

std::string Edited(const std::string& c, const Edit& edit) {
  std::string next;
  next.reserve(c.size() - edit.erase + edit.text.size());
  next.append(c, 0, edit.pos).append(edit.text).append(c, edit.pos + edit.erase, std::string::npos);
  return next;
}

// The edit's text and the bytes it replaces stand between ASCII bytes, so an edit without bytes
// beyond ASCII leaves the file's reading as it is, and a text that is no UTF-8 by itself keeps the
// file from being UTF-8; only the rest needs a look at the whole file.
bool BecomesUtf8(const Document& doc, const Edit& edit) {
  if (!doc.markless_utf8 || doc.encoding != IniEncoding::kAnsi) return false;
  auto beyond_ascii = [](std::string_view bytes) {
    for (char c : bytes) {
      if (static_cast<unsigned char>(c) >= 0x80) return true;
    }
    return false;
  };
  const bool text_beyond = beyond_ascii(edit.text);
  if (!text_beyond && !beyond_ascii(std::string_view(doc.content).substr(edit.pos, edit.erase))) {
    return false;
  }
  if (text_beyond && !IsUtf8BeyondAscii(edit.text)) return false;
  return IsUtf8BeyondAscii(Edited(doc.content, edit));
}

void TookInPlace(Document* doc, const Edit& edit) {
  doc->content.replace(edit.pos, edit.erase, edit.text);
  ReindexIfItBecameASection(doc, edit.pos);
}

void TookReplacement(Document* doc, const Edit& edit, std::string next, std::uint64_t written) {
  doc->content.swap(next);
  if (!ShiftIndex(doc, edit)) doc->IndexAll();
  ReindexIfItBecameASection(doc, edit.pos);
  doc->file_size = written;
}

bool TookAppend(Document* doc, const Edit& edit, std::uint64_t at, std::uint64_t written,
                const std::string& between, std::string_view section, std::string_view key) {
  if (at != doc->file_size + between.size() ||
      (!between.empty() && (doc->IsUtf16() || !IsLineEnd(between.back())))) {
    return false;
  }
  const std::size_t from = doc->content.size();
  // A value given to a last line without '=' continues that line: its part of the index is
  // worked out again, not taken for a line of its own.
  const bool continues_line = from > doc->body && !IsLineEnd(doc->content[from - 1]);
  doc->content.append(between).append(edit.text);
  doc->file_size = at + written;
  if (continues_line) {
    doc->IndexAll();
  } else {
    doc->IndexLines(from, doc->content.size());
  }
  if (between.empty()) return true;
  const std::uint32_t index = doc->FindSection(section);
  const std::uint32_t line = index == kNone ? kNone : doc->FindKey(index, key);
  return line != kNone && line >= from + between.size();
}

}  // namespace ini
