#include "ini/document.h"

#include <algorithm>
#include <utility>

#include "base/Ascii.h"
#include "ini/lines.h"

namespace ini {

namespace {

std::uint32_t HashKey(std::uint32_t section, std::string_view key) {
  return HashNoCase(key, section + 1);
}

}  // namespace

std::string_view Document::SectionNameAt(std::uint32_t index) const {
  std::string_view name;
  if (index > 0) IsSectionLine(LineText(content, sections[index].begin), &name);
  return name;
}

std::uint32_t Document::FindSection(std::string_view name) const {
  return section_names.Find(HashNoCase(name, 0), [&](std::uint32_t index) {
    return ascii::EqualNoCase(SectionNameAt(index), name);
  });
}

std::uint32_t Document::FindKey(std::uint32_t section, std::string_view key) const {
  const std::uint32_t end = section + 1 < sections.size() ? sections[section + 1].begin : kNone;
  return keys.Find(HashKey(section, key), [&](std::uint32_t offset) {
    return offset >= sections[section].begin && offset < end &&
           ascii::EqualNoCase(KeyOf(LineText(content, offset)), key);
  });
}

bool Document::Find(std::string_view section, std::string_view key, std::string_view* value) const {
  const std::uint32_t index = FindSection(section);
  if (index == kNone) return false;
  const std::uint32_t line = FindKey(index, key);
  return line != kNone && ValueOf(LineText(content, line), value);
}

void Document::IndexLines(std::size_t from, std::size_t to) {
  const std::string& c = content;
  std::uint32_t current = static_cast<std::uint32_t>(sections.size() - 1);
  std::size_t p = from;
  while (p < to) {
    if (IsLineEnd(c[p])) {
      ++p;
      continue;
    }
    std::size_t begin = p;
    while (p < to && !IsLineEnd(c[p])) ++p;
    while (begin < p && IsBlank(c[begin])) ++begin;
    if (begin == p) continue;
    std::string_view line = Trim(std::string_view(c).substr(begin, p - begin));
    std::uint32_t offset = static_cast<std::uint32_t>(begin);
    std::string_view name;
    if (IsSectionLine(line, &name)) {
      current = static_cast<std::uint32_t>(sections.size());
      sections.push_back(Section{offset, offset});
      if (FindSection(name) == kNone) section_names.Add(HashNoCase(name, 0), current);
    } else {
      sections[current].last_entry = offset;
      IndexKey(current, KeyOf(line), offset);
    }
  }
}

void Document::IndexKey(std::uint32_t section, std::string_view key, std::uint32_t offset) {
  if (FindKey(section, key) == kNone) keys.Add(HashKey(section, key), offset);
}

void Document::DetectLineEnd() {
  const std::string& c = content;
  std::size_t first_end = c.find_first_of("\r\n", body);
  if (first_end == std::string::npos || c.compare(first_end, 2, "\r\n") == 0) {
    eol = "\r\n";
  } else {
    eol = c[first_end] == '\n' ? "\n" : "\r";
  }
}

void Document::IndexAll() {
  DetectLineEnd();
  sections.assign(1, Section{static_cast<std::uint32_t>(body), kNone});
  section_names.Clear();
  keys.Clear();
  section_names.Add(HashNoCase(std::string_view(), 0), 0);
  IndexLines(body, content.size());
}

void Document::Load(std::string raw) {
  std::size_t mark_size = 0;
  encoding = DetectEncoding(raw, &mark_size, markless_utf8);
  file_size = raw.size();
  odd.clear();
  if (IsUtf16()) {
    mark = raw.substr(0, mark_size);
    if ((raw.size() - mark_size) % 2 != 0) odd = raw.substr(raw.size() - 1);
    content =
        Utf16ToText(std::string_view(raw).substr(mark_size, raw.size() - mark_size - odd.size()),
                    encoding == IniEncoding::kUtf16Be);
    body = 0;
  } else {
    mark.clear();
    content.swap(raw);
    body = mark_size;
  }
  IndexAll();
}

std::string Document::FileBytes(std::string_view text) const {
  return IsUtf16() ? TextToUtf16(text, encoding == IniEncoding::kUtf16Be) : std::string(text);
}

namespace {

bool HasHighBytes(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// The end of the line that starts at `begin`, behind its line end.
std::size_t LineEndAfter(std::string_view text, std::size_t begin) {
  std::size_t end = text.find_first_of("\r\n", begin);
  if (end == std::string_view::npos) return text.size();
  return end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
}

}  // namespace

std::uint32_t Document::SectionAt(std::size_t offset) const {
  std::uint32_t index = 0;
  while (index + 1 < sections.size() && sections[index + 1].begin < offset) ++index;
  return index;
}

void Document::Shift(std::size_t from, std::int64_t delta) {
  const std::uint32_t at = static_cast<std::uint32_t>(from);
  const std::uint32_t by = static_cast<std::uint32_t>(delta);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    if (i > 0 && sections[i].begin >= at) sections[i].begin += by;
    if (sections[i].last_entry != kNone && sections[i].last_entry >= at) {
      sections[i].last_entry += by;
    }
  }
  keys.Shift(at, by);
}

bool Document::FollowInsertion(std::string& raw, std::size_t at, std::size_t* matched) {
  const std::string& c = content;
  const std::size_t rest = c.size() - at;
  // The lines put in end where the text's own line at `at` begins again, a few lines on at most.
  const std::string_view first(c.data() + at, LineEndAfter(c, at) - at);
  std::size_t again = std::string::npos;
  for (std::size_t from = at + 1, tries = 0; tries < 8; ++tries) {
    const std::size_t found = raw.find(first, from);
    if (found == std::string::npos) return false;
    if (IsLineEnd(raw[found - 1]) && raw.size() - found >= rest &&
        raw.compare(found, rest, c, at, rest) == 0) {
      again = found;
      break;
    }
    from = found + 1;
  }
  if (again == std::string::npos) return false;
  const std::string_view lines(raw.data() + at, again - at);
  const std::uint32_t section = SectionAt(at);
  for (std::size_t p = 0; p < lines.size(); p = LineEndAfter(lines, p)) {
    std::size_t begin = p;
    while (begin < lines.size() && IsBlank(lines[begin]) && !IsLineEnd(lines[begin])) ++begin;
    const std::string_view line = LineText(lines, begin);
    std::string_view name;
    // A section line, or a key that the section has already (the new line may stand first
    // now): a change to look at afresh.
    if (IsSectionLine(line, &name) || (!line.empty() && FindKey(section, KeyOf(line)) != kNone)) {
      return false;
    }
  }
  Shift(at, static_cast<std::int64_t>(lines.size()));
  content.insert(at, lines);
  for (std::size_t p = at; p < at + lines.size(); p = LineEndAfter(content, p)) {
    std::size_t begin = p;
    while (begin < at + lines.size() && IsBlank(content[begin]) && !IsLineEnd(content[begin])) {
      ++begin;
    }
    const std::string_view line = LineText(content, begin);
    if (line.empty()) continue;
    const std::uint32_t offset = static_cast<std::uint32_t>(begin);
    Section& owner = sections[section];
    if (owner.last_entry == kNone || owner.last_entry < offset) owner.last_entry = offset;
    IndexKey(section, KeyOf(line), offset);
  }
  *matched = content.size();
  return true;
}

bool Document::FollowValue(std::string& raw, std::size_t at, std::size_t common,
                           std::size_t* matched) {
  const std::string& c = content;
  const std::size_t old_end = LineEndAfter(c, at);
  const std::size_t new_end = LineEndAfter(raw, at);
  const std::size_t rest = c.size() - old_end;
  if (raw.size() - new_end < rest || raw.compare(new_end, rest, c, old_end, rest) != 0) {
    return false;
  }
  std::size_t begin = at;
  while (begin < old_end && IsBlank(c[begin]) && !IsLineEnd(c[begin])) ++begin;
  const std::string_view old_line = LineText(c, begin);
  const std::size_t eq = old_line.find('=');
  std::string_view name;
  // Only what stands behind the key's '=' changed, and the line is still a key line.
  if (eq == std::string_view::npos || IsSectionLine(old_line, &name) || common <= begin + eq ||
      IsSectionLine(LineText(raw, begin), &name)) {
    return false;
  }
  const std::int64_t delta =
      static_cast<std::int64_t>(new_end) - static_cast<std::int64_t>(old_end);
  if (delta != 0) Shift(old_end, delta);
  content.replace(at, old_end - at, raw, at, new_end - at);
  *matched = content.size();
  return true;
}

void Document::Follow(std::string raw) {
  std::size_t mark = 0;
  DetectEncoding(std::string_view(raw).substr(0, 3), &mark);
  if (sections.empty() || IsUtf16() || mark != body) {
    Load(std::move(raw));
    return;
  }
  const std::string& c = content;
  const std::size_t common =
      std::mismatch(c.begin(), c.end(), raw.begin(), raw.end()).first - c.begin();
  // Bytes beyond ASCII may change how a file without a mark reads: it is looked at afresh.
  if (markless_utf8 && body == 0 && HasHighBytes(std::string_view(raw).substr(common))) {
    Load(std::move(raw));
    return;
  }
  std::size_t matched = c.size();
  if (common < c.size()) {
    std::size_t at = common;
    while (at > body && !IsLineEnd(c[at - 1])) --at;
    if (common == raw.size() ||
        (!FollowInsertion(raw, at, &matched) && !FollowValue(raw, at, common, &matched))) {
      Load(std::move(raw));
      return;
    }
  }
  // Lines behind the text's last whole line: what another program appended.
  if (raw.size() > matched) {
    const bool whole = content.size() > body && IsLineEnd(content.back()) &&
                       content.find_first_of("\r\n") != content.size() - 1;
    if (!whole || matched != content.size()) {
      Load(std::move(raw));
      return;
    }
    content.append(raw, matched, std::string::npos);
    IndexLines(matched, content.size());
  }
  file_size = content.size();
  DetectLineEnd();
}

std::size_t Document::LineOf(std::size_t offset) const {
  std::size_t line = 1;
  for (std::size_t i = 0; i < offset && i < content.size(); ++i) {
    if (content[i] == '\n' ||
        (content[i] == '\r' && (i + 1 == content.size() || content[i + 1] != '\n'))) {
      ++line;
    }
  }
  return line;
}

}  // namespace ini
