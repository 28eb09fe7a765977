#include "ini/document.h"

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

void Document::IndexAll() {
  const std::string& c = content;
  std::size_t first_end = c.find_first_of("\r\n", body);
  if (first_end == std::string::npos || c.compare(first_end, 2, "\r\n") == 0) {
    eol = "\r\n";
  } else {
    eol = c[first_end] == '\n' ? "\n" : "\r";
  }
  sections.assign(1, Section{static_cast<std::uint32_t>(body), kNone});
  section_names.Clear();
  keys.Clear();
  section_names.Add(HashNoCase(std::string_view(), 0), 0);
  IndexLines(body, c.size());
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

void Document::Follow(std::string raw) {
  const std::string& c = content;
  if (!IsUtf16() && raw.size() > c.size() && c.size() > body && IsLineEnd(c.back()) &&
      c.find_first_of("\r\n") != c.size() - 1 && raw.compare(0, c.size(), c) == 0) {
    const std::size_t from = c.size();
    content.append(raw, from, std::string::npos);
    file_size = raw.size();
    IndexLines(from, content.size());
  } else {
    Load(std::move(raw));
  }
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
