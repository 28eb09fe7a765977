#include "ini/engine.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Ascii.h"
#include "ini/code-page.h"
#include "ini/file.h"
#include "ini/text.h"

namespace {

using inifile::FileKind;
using inifile::FileStamp;
using inifile::WriteResult;

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
// Offsets into a file are kept in 32 bits; a larger file counts as unreadable.
constexpr std::uint64_t kMaxFileSize = 0xFFFFFF00u;
// GetPrivateProfileStringA with a 2048-character buffer returns at most this many.
constexpr size_t kMaxValueLength = 2047;
// A write that finds bytes it read changed under it by another program starts again from the new
// contents, a few dozen times at most. Another program's appends never count: they are taken in.
constexpr int kWriteAttempts = 32;
constexpr std::string_view kNoChars;
// The code page of locales without an ANSI one: UTF-8.
constexpr unsigned kUtf8CodePage = 65001;

using ascii::EqualNoCase;
using ascii::Lower;

bool IsBlank(char c) { return ascii::IsIniBlank(c); }

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view CutAtNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// FNV-1a over the lower-cased bytes, then a final mix so that the low bits spread well.
std::uint32_t HashNoCase(std::string_view s, std::uint32_t seed) {
  std::uint32_t h = 2166136261u ^ (seed * 0x9E3779B9u);
  for (char c : s) {
    h ^= static_cast<unsigned char>(Lower(c));
    h *= 16777619u;
  }
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

// A hash table of 32-bit values under 32-bit hashes, open addressing with linear probing. The
// caller compares the names, through the values; only additions are needed.
class FirstIndex {
 public:
  template <typename Match>
  std::uint32_t Find(std::uint32_t hash, const Match& match) const {
    if (slots_.empty()) return kNone;
    size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.value == kNone) return kNone;
      if (slot.hash == hash && match(slot.value)) return slot.value;
    }
  }

  void Add(std::uint32_t hash, std::uint32_t value) {
    if ((used_ + 1) * 4 > slots_.size() * 3) Grow();
    Place(hash, value);
    ++used_;
  }

  // Adds `delta` (modulo 2^32) to every value from `from` on.
  void Shift(std::uint32_t from, std::uint32_t delta) {
    for (Slot& slot : slots_) {
      if (slot.value != kNone && slot.value >= from) slot.value += delta;
    }
  }

  void Clear() {
    std::vector<Slot>().swap(slots_);
    used_ = 0;
  }

 private:
  struct Slot {
    std::uint32_t hash;
    std::uint32_t value;
  };

  void Place(std::uint32_t hash, std::uint32_t value) {
    size_t mask = slots_.size() - 1;
    size_t i = hash & mask;
    while (slots_[i].value != kNone) i = (i + 1) & mask;
    slots_[i] = Slot{hash, value};
  }

  void Grow() {
    std::vector<Slot> old(slots_.empty() ? 16 : slots_.size() * 2, Slot{0, kNone});
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.value != kNone) Place(slot.hash, slot.value);
    }
  }

  std::vector<Slot> slots_;
  size_t used_ = 0;
};

struct Section {
  std::uint32_t begin;       // offset of its '['; for the section "", the start of the text
  std::uint32_t last_entry;  // start of its last non-empty line (its header if none), or kNone
};

// The file as last seen, with an index of its sections and keys. Keys are found through the
// offsets of their lines, so the index holds no copies of names.
//
// The copy is the file's text as 8-bit text: an ANSI or UTF-8 file as its bytes, a UTF-16 file
// turned into UTF-8 (ini/text.h).
struct FileCopy {
  bool valid = false;
  std::string path;
  FileStamp stamp;
  IniEncoding encoding = IniEncoding::kAnsi;
  std::string mark;             // a UTF-16 file's byte-order mark, which is not in `content`
  std::string odd;              // a UTF-16 file's odd last byte, no part of its text
  std::uint64_t file_size = 0;  // the file's size as the copy describes it
  std::string content;
  size_t body = 0;                // behind a UTF-8 byte-order mark
  std::string_view eol = "\r\n";  // the line end that added lines get
  std::vector<Section> sections;  // in file order; [0] is the section ""
  FirstIndex section_names;       // section index by name
  FirstIndex keys;                // line offset by section index and key name
  bool markless_utf8 = false;     // see IniEngine::SetMarklessUtf8
};

// The trimmed text of the line whose first non-blank character is at `begin`.
std::string_view LineText(const std::string& content, size_t begin) {
  size_t end = begin;
  while (end < content.size() && !IsLineEnd(content[end])) ++end;
  return Trim(std::string_view(content).substr(begin, end - begin));
}

// For a trimmed line: whether it is a section line, and its section name.
bool IsSectionLine(std::string_view line, std::string_view* name) {
  if (line.empty() || line.front() != '[') return false;
  size_t close = line.rfind(']');
  if (close == 0 || close == std::string_view::npos) return false;
  *name = CutAtNul(Trim(line.substr(1, close - 1)));
  return true;
}

// The key of a trimmed line that is not a section line. Names end at a NUL, as in the Windows
// calls, which take them as C strings; what stands before the NUL keeps its blanks.
std::string_view KeyOf(std::string_view line) {
  return CutAtNul(Trim(line.substr(0, line.find('='))));
}

std::string_view SectionNameAt(const FileCopy& s, std::uint32_t index) {
  std::string_view name;
  if (index > 0) IsSectionLine(LineText(s.content, s.sections[index].begin), &name);
  return name;
}

std::uint32_t FindSection(const FileCopy& s, std::string_view name, std::uint32_t hash) {
  return s.section_names.Find(
      hash, [&](std::uint32_t index) { return EqualNoCase(SectionNameAt(s, index), name); });
}

std::uint32_t HashKey(std::uint32_t section, std::string_view key) {
  return HashNoCase(key, section + 1);
}

// The offset of the first line of `section` whose key is `key`, or kNone.
std::uint32_t FindKey(const FileCopy& s, std::uint32_t section, std::string_view key,
                      std::uint32_t hash) {
  std::uint32_t end = section + 1 < s.sections.size() ? s.sections[section + 1].begin : kNone;
  return s.keys.Find(hash, [&](std::uint32_t offset) {
    return offset >= s.sections[section].begin && offset < end &&
           EqualNoCase(KeyOf(LineText(s.content, offset)), key);
  });
}

// Adds the lines of content[from, to) to the index; `from` is the start of a line, and the
// lines belong to the last indexed section until a section line comes.
void IndexLines(FileCopy* s, size_t from, size_t to) {
  const std::string& c = s->content;
  std::uint32_t current = static_cast<std::uint32_t>(s->sections.size() - 1);
  size_t p = from;
  while (p < to) {
    if (IsLineEnd(c[p])) {
      ++p;
      continue;
    }
    size_t begin = p;
    while (p < to && !IsLineEnd(c[p])) ++p;
    while (begin < p && IsBlank(c[begin])) ++begin;
    if (begin == p) continue;
    std::string_view line = Trim(std::string_view(c).substr(begin, p - begin));
    std::uint32_t offset = static_cast<std::uint32_t>(begin);
    std::string_view name;
    if (IsSectionLine(line, &name)) {
      current = static_cast<std::uint32_t>(s->sections.size());
      s->sections.push_back(Section{offset, offset});
      std::uint32_t hash = HashNoCase(name, 0);
      if (FindSection(*s, name, hash) == kNone) s->section_names.Add(hash, current);
    } else {
      s->sections[current].last_entry = offset;
      std::string_view key = KeyOf(line);
      std::uint32_t hash = HashKey(current, key);
      if (FindKey(*s, current, key, hash) == kNone) s->keys.Add(hash, offset);
    }
  }
}

void IndexAll(FileCopy* s) {
  const std::string& c = s->content;
  size_t first_end = c.find_first_of("\r\n", s->body);
  if (first_end == std::string::npos || c.compare(first_end, 2, "\r\n") == 0) {
    s->eol = "\r\n";
  } else {
    s->eol = c[first_end] == '\n' ? "\n" : "\r";
  }
  s->sections.assign(1, Section{static_cast<std::uint32_t>(s->body), kNone});
  s->section_names.Clear();
  s->keys.Clear();
  s->section_names.Add(HashNoCase(kNoChars, 0), 0);
  IndexLines(s, s->body, c.size());
}

// Takes the file's bytes into the copy, in the encoding they tell.
void Load(FileCopy* s, std::string raw) {
  std::size_t mark = 0;
  s->encoding = DetectEncoding(raw, &mark, s->markless_utf8);
  s->file_size = raw.size();
  s->odd.clear();
  if (s->encoding == IniEncoding::kUtf16Le || s->encoding == IniEncoding::kUtf16Be) {
    s->mark = raw.substr(0, mark);
    if ((raw.size() - mark) % 2 != 0) s->odd = raw.substr(raw.size() - 1);
    s->content = Utf16ToText(std::string_view(raw).substr(mark, raw.size() - mark - s->odd.size()),
                             s->encoding == IniEncoding::kUtf16Be);
    s->body = 0;
  } else {
    s->mark.clear();
    s->content.swap(raw);
    s->body = mark;
  }
  IndexAll(s);
}

bool IsUtf16(const FileCopy& s) {
  return s.encoding == IniEncoding::kUtf16Le || s.encoding == IniEncoding::kUtf16Be;
}

// The file's bytes of text of the copy.
std::string FileBytes(const FileCopy& s, std::string_view text) {
  return IsUtf16(s) ? TextToUtf16(text, s.encoding == IniEncoding::kUtf16Be) : std::string(text);
}

// Brings the copy up to date with the file `path`: reads it again unless its stamp is the one
// the copy was taken from. False when something is there that cannot be read.
bool Refresh(FileCopy& s, const std::string& path) {
  FileStamp now = inifile::StatFile(path);
  if (s.valid && s.path == path && s.stamp == now) return true;
  s.valid = false;
  s.path = path;
  if (now.kind == FileKind::kOther || now.size > kMaxFileSize) return false;
  bool read = false;
  bool changed = now.kind == FileKind::kRegular;
  std::string raw;
  // A file that changes while it is read is read again, a few times at most.
  for (int attempt = 0; attempt < 3 && changed && !read; ++attempt) {
    read = inifile::ReadWholeFile(path, &raw, &s.stamp, &changed);
  }
  if (read && s.stamp.size > kMaxFileSize) return false;
  if (!read) {
    // It may have gone between the two looks; then it is simply missing.
    if (now.kind == FileKind::kRegular && inifile::StatFile(path).kind != FileKind::kMissing) {
      return false;
    }
    raw.clear();
    s.stamp = FileStamp();
  }
  Load(&s, std::move(raw));
  s.valid = true;
  return true;
}

// One change to the file: `erase` bytes at `pos` become `text`.
struct Edit {
  size_t pos = 0;
  size_t erase = 0;
  std::string text;
  bool adds_lines = false;
  std::uint32_t section = kNone;  // where an added key line belongs
};

void AppendKeyLine(std::string* out, std::string_view key, std::string_view value,
                   std::string_view eol) {
  out->append(key).append("=").append(value).append(eol);
}

// Works out how to store `value` under `section` and `key` (all trimmed as the Windows call
// would). False when the file holds that value already and nothing is to change.
bool PlanEdit(const FileCopy& s, std::string_view section, std::string_view key,
              std::string_view value, Edit* edit) {
  const std::string& c = s.content;
  std::uint32_t index = FindSection(s, section, HashNoCase(section, 0));
  if (index == kNone) {
    // A new section at the end, on a line of its own.
    edit->pos = c.size();
    if (c.size() > s.body && !IsLineEnd(c.back())) edit->text.append(s.eol);
    edit->text.append("[").append(section).append("]").append(s.eol);
    AppendKeyLine(&edit->text, key, value, s.eol);
    edit->adds_lines = true;
    return true;
  }

  std::uint32_t line_start = FindKey(s, index, key, HashKey(index, key));
  if (line_start != kNone) {
    // The key's value is replaced; everything up to its '=' stays.
    size_t raw_end = c.find_first_of("\r\n", line_start);
    if (raw_end == std::string::npos) raw_end = c.size();
    std::string_view line = LineText(c, line_start);
    size_t eq = line.find('=');
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

  // A new key behind the last entry of the section, before the lines that follow it.
  edit->adds_lines = true;
  edit->section = index;
  std::uint32_t last = s.sections[index].last_entry;
  if (last == kNone) {
    edit->pos = s.body;
  } else {
    size_t p = c.find_first_of("\r\n", last);
    if (p == std::string::npos) {
      p = c.size();
      edit->text.append(s.eol);
    } else {
      p += c.compare(p, 2, "\r\n") == 0 ? 2 : 1;
    }
    edit->pos = p;
  }
  AppendKeyLine(&edit->text, key, value, s.eol);
  // A key line at the very start of an 8-bit file must not begin with the bytes of a
  // byte-order mark, which reading would take for one: it goes behind an empty line.
  size_t mark = 0;
  if (edit->pos == 0 && s.encoding == IniEncoding::kAnsi &&
      DetectEncoding(edit->text, &mark) != IniEncoding::kAnsi) {
    edit->text.insert(0, s.eol);
  }
  return true;
}

// Updates the index for an edit that moved the lines behind it: their offsets move, and an added
// key line joins its section. False when the added text is not one plain key line; then the
// index has to be built again.
bool ShiftIndex(FileCopy* s, const Edit& edit) {
  std::string_view added = Trim(edit.text);
  std::string_view name;
  if (edit.adds_lines && (added.empty() || added.find_first_of("\r\n") != std::string::npos ||
                          IsSectionLine(added, &name))) {
    return false;
  }
  std::uint32_t from = static_cast<std::uint32_t>(edit.pos);
  std::uint32_t delta = static_cast<std::uint32_t>(edit.text.size() - edit.erase);
  for (size_t i = 0; i < s->sections.size(); ++i) {
    Section& section = s->sections[i];
    if (i > 0 && section.begin >= from) section.begin += delta;
    if (section.last_entry != kNone && section.last_entry >= from) section.last_entry += delta;
  }
  s->keys.Shift(from, delta);
  if (edit.adds_lines) {
    std::uint32_t offset = static_cast<std::uint32_t>(edit.pos + (added.data() - edit.text.data()));
    s->sections[edit.section].last_entry = offset;
    std::string_view key = KeyOf(added);
    std::uint32_t hash = HashKey(edit.section, key);
    if (FindKey(*s, edit.section, key, hash) == kNone) s->keys.Add(hash, offset);
  }
  return true;
}

// A value can make its key line look like a section line ("[k" given the value "v]" reads as the
// section "k=v"), as it does to the profile functions; the index then follows the line's new
// nature.
void ReindexIfItBecameASection(FileCopy* s, size_t pos) {
  size_t begin = pos;
  while (begin > s->body && !IsLineEnd(s->content[begin - 1])) --begin;
  while (begin < s->content.size() && IsBlank(s->content[begin])) ++begin;
  std::string_view name;
  if (IsSectionLine(LineText(s->content, begin), &name)) IndexAll(s);
}

// Bytes of a write that landed behind another program's append, and so maybe in its section:
// the next attempt takes them out again.
struct Stray {
  bool active = false;
  std::uint64_t at = 0;
  std::string bytes;
};

// The file's text with `edit` applied.
std::string Edited(const std::string& c, const Edit& edit) {
  std::string next;
  next.reserve(c.size() - edit.erase + edit.text.size());
  next.append(c, 0, edit.pos).append(edit.text).append(c, edit.pos + edit.erase, std::string::npos);
  return next;
}

// Takes the copy to the file as `file` has it now, unless the copy is of that very state. The
// bytes `stray` left by the last attempt are taken out again if they are still there as written;
// then *cleaned holds the file without them, and the copy is the file as it is.
bool Catch(FileCopy& s, const std::string& path, const inifile::LockedFile& file,
           const FileStamp& now, const Stray& stray, FileCopy* cleaned, bool* has_cleaned) {
  *has_cleaned = false;
  if (s.valid && s.path == path && s.stamp == now && !stray.active) return true;
  const bool same_file = s.path == path && s.stamp.kind == FileKind::kRegular &&
                         s.stamp.device == now.device && s.stamp.inode == now.inode;
  s.valid = false;
  s.path = path;
  std::string raw;
  if (now.size > kMaxFileSize || !file.Read(0, now.size, &raw)) return false;
  if (stray.active &&
      raw.compare(static_cast<size_t>(stray.at), stray.bytes.size(), stray.bytes) == 0) {
    std::string without = raw;
    without.erase(static_cast<size_t>(stray.at), stray.bytes.size());
    Load(cleaned, std::move(without));
    *has_cleaned = true;
  }
  // A file that only grew behind the copy's last whole line (another program appended) is
  // indexed from there; anything else is indexed afresh.
  const std::string& c = s.content;
  if (same_file && !IsUtf16(s) && raw.size() > c.size() && c.size() > s.body &&
      IsLineEnd(c.back()) && c.find_first_of("\r\n") != c.size() - 1 &&
      raw.compare(0, c.size(), c) == 0) {
    const size_t from = c.size();
    s.content.append(raw, from, std::string::npos);
    s.file_size = raw.size();
    IndexLines(&s, from, s.content.size());
  } else {
    Load(&s, std::move(raw));
  }
  s.stamp = now;
  s.valid = true;
  return true;
}

// Takes this run's append, which landed at `at`, into the copy, with what another program
// appended before it in the meantime. False when a read would not find the item there: the other
// program's bytes end in the middle of a line, or hold the item's section or key (the item then
// belongs where the copy had it), or the file is UTF-16; the copy is then no longer valid.
bool TakeAppend(FileCopy* s, const inifile::LockedFile& file, std::uint64_t at,
                std::uint64_t written, const std::string& text, std::string_view section,
                std::string_view key) {
  std::string between;
  if (at != s->file_size) {
    if (IsUtf16(*s) || at < s->file_size || at - s->file_size > kMaxFileSize ||
        !file.Read(s->file_size, at - s->file_size, &between) || !IsLineEnd(between.back())) {
      return false;
    }
  }
  const size_t from = s->content.size();
  // A value given to a last line without '=' continues that line: its part of the index is
  // worked out again, not taken for a line of its own.
  const bool continues_line = from > s->body && !IsLineEnd(s->content[from - 1]);
  s->content.append(between).append(text);
  s->file_size = at + written;
  if (continues_line) {
    IndexAll(s);
  } else {
    IndexLines(s, from, s->content.size());
  }
  if (between.empty()) return true;
  const std::uint32_t index = FindSection(*s, section, HashNoCase(section, 0));
  const std::uint32_t line = index == kNone ? kNone : FindKey(*s, index, key, HashKey(index, key));
  if (line != kNone && line >= from + between.size()) return true;
  s->valid = false;
  return false;
}

// The copy follows the file after a write of this run only when the file is exactly what the
// write made it; a file that another program changed at the same time is read afresh next time.
void Adopt(FileCopy& s, const inifile::LockedFile& file) {
  FileStamp after = file.stamp();
  if (after.kind == FileKind::kRegular && after.size == s.file_size) {
    s.stamp = after;
  } else {
    s.valid = false;
  }
}

// An 8-bit name or value of the tool's as the copy's text: as it is for an ANSI file, in UTF-8
// for a Unicode one.
std::string Text(const FileCopy& s, std::string_view ansi, unsigned code_page) {
  if (s.encoding == IniEncoding::kAnsi) return std::string(ansi);
  return AnsiToText(ansi, code_page);
}

// A value as GetPrivateProfileStringA gives it into its buffer of 2048 characters: freed of one
// enclosing quote pair, at most 2047 characters. The copy into the buffer comes first and the
// quote goes after it, so that a quoted value whose inside has exactly 2047 characters loses
// its last one, as it does there.
template <typename View>
View Unquoted(View v) {
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
    View inside = v.substr(1);  // with the closing quote
    View copy = inside.substr(0, kMaxValueLength);
    if (inside.size() <= kMaxValueLength + 1) copy.remove_suffix(1);
    return copy;
  }
  return v.substr(0, kMaxValueLength);
}

// Whether `edit` would make the ANSI file of the copy read as UTF-8 (IniEngine::SetMarklessUtf8).
// The edit's text and the bytes it replaces stand between ASCII bytes, so an edit without bytes
// beyond ASCII leaves the file's reading as it is, and a text that is no UTF-8 by itself keeps
// the file from being UTF-8; only the rest needs a look at the whole file.
bool BecomesUtf8(const FileCopy& s, const Edit& edit) {
  if (!s.markless_utf8 || s.encoding != IniEncoding::kAnsi) return false;
  auto beyond_ascii = [](std::string_view bytes) {
    for (char c : bytes) {
      if (static_cast<unsigned char>(c) >= 0x80) return true;
    }
    return false;
  };
  const bool text_beyond = beyond_ascii(edit.text);
  if (!text_beyond && !beyond_ascii(std::string_view(s.content).substr(edit.pos, edit.erase))) {
    return false;
  }
  if (text_beyond && !IsUtf8BeyondAscii(edit.text)) return false;
  return IsUtf8BeyondAscii(Edited(s.content, edit));
}

// The 1-based number of the line that holds `offset`: one more than the line ends before it, a
// line ending at CR, LF or CR LF.
std::size_t LineNumberAt(const std::string& content, size_t offset) {
  std::size_t line = 1;
  for (size_t i = 0; i < offset && i < content.size(); ++i) {
    if (content[i] == '\n' ||
        (content[i] == '\r' && (i + 1 == content.size() || content[i + 1] != '\n'))) {
      ++line;
    }
  }
  return line;
}

}  // namespace

struct IniEngine::Snapshot : FileCopy {};

IniEngine::IniEngine() : IniEngine(AnsiCodePage()) {}
IniEngine::IniEngine(unsigned code_page)
    : file_(std::make_unique<Snapshot>()), code_page_(code_page) {}
IniEngine::~IniEngine() = default;

bool IniEngine::Read(const std::string& file, const std::string& section, const std::string& key,
                     std::string* value) {
  if (!Refresh(*file_, file)) return false;
  const FileCopy& s = *file_;
  // The names as the file's text: as they are in an ANSI file, converted in a Unicode one.
  std::string_view section_name = Trim(CutAtNul(section));
  std::string_view key_name = Trim(CutAtNul(key));
  std::string section_text, key_text;
  if (s.encoding != IniEncoding::kAnsi) {
    section_text = Text(s, section_name, code_page_);
    key_text = Text(s, key_name, code_page_);
    section_name = section_text;
    key_name = key_text;
  }
  std::uint32_t index = FindSection(s, section_name, HashNoCase(section_name, 0));
  if (index == kNone) return false;
  std::uint32_t line_start = FindKey(s, index, key_name, HashKey(index, key_name));
  if (line_start == kNone) return false;
  std::string_view line = LineText(s.content, line_start);
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  std::string_view found = CutAtNul(Trim(line.substr(eq + 1)));
  if (s.encoding == IniEncoding::kAnsi && code_page_ != kUtf8CodePage) {
    *value = std::string(Unquoted(found));
  } else {
    std::u16string units = TextToUnits(found, IsUtf16(s));
    *value = UnitsToAnsi(Unquoted(std::u16string_view(units)), code_page_);
  }
  return true;
}

bool IniEngine::Write(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& value) {
  const std::string_view ansi_section = Trim(CutAtNul(section));
  const std::string_view ansi_key = Trim(CutAtNul(key));
  const std::string_view ansi_value = TrimLeft(CutAtNul(value));
  FileCopy& s = *file_;
  Stray stray;
  // Each attempt holds the file locked from its look at the file to the end of its write, so
  // that other runs of the tool wait; it starts again when another program changed what it read,
  // or when its append landed where another program's bytes keep a read from finding it.
  for (int changes = 0; changes < kWriteAttempts;) {
    inifile::LockedFile locked;
    if (locked.Open(file) != WriteResult::kDone) {
      s.valid = false;
      return false;
    }
    const FileStamp now = locked.stamp();
    FileCopy cleaned;
    cleaned.markless_utf8 = s.markless_utf8;
    bool has_cleaned = false;
    if (!Catch(s, file, locked, now, stray, &cleaned, &has_cleaned)) return false;
    stray.active = false;
    FileCopy& plan = has_cleaned ? cleaned : s;

    Edit edit;
    const std::string section_text = Text(plan, ansi_section, code_page_);
    const std::string key_text = Text(plan, ansi_key, code_page_);
    const bool change =
        PlanEdit(plan, section_text, key_text, Text(plan, ansi_value, code_page_), &edit);
    if (!change && !has_cleaned) return true;
    if (plan.content.size() - edit.erase + edit.text.size() > kMaxFileSize) return false;
    const bool in_bytes = !IsUtf16(s);

    if (change && BecomesUtf8(plan, edit)) {
      // The whole file in UTF-8 instead, its text converted from the code page with the item in
      // it, so that it reads as it was meant.
      std::string next = AnsiToText(Edited(plan.content, edit), code_page_);
      if (next.size() > kMaxFileSize) return false;
      WriteResult result = locked.Replace(next, now);
      s.valid = false;
      if (result == WriteResult::kFailed) return false;
      if (result == WriteResult::kChanged) {
        ++changes;
        continue;
      }
      Load(&s, std::move(next));
      s.valid = true;
      Adopt(s, locked);
      return true;
    }

    if (!has_cleaned && edit.erase == 0 && edit.pos == s.content.size() && s.odd.empty()) {
      // An append: at the true end of the file, wherever another program may have put it since.
      const std::string bytes = FileBytes(s, edit.text);
      std::uint64_t at = 0;
      if (locked.Append(bytes, &at) != WriteResult::kDone) {
        s.valid = false;
        return false;
      }
      if (!TakeAppend(&s, locked, at, bytes.size(), edit.text, section_text, key_text)) {
        // Behind another program's bytes, where a read would not find it: the next attempt takes
        // it out again and puts the item where it belongs.
        stray = Stray{true, at, bytes};
        s.valid = false;
        continue;
      }
    } else if (!has_cleaned && in_bytes && edit.text.size() == edit.erase) {
      // The same number of bytes, in place.
      if (locked.Overwrite(edit.pos, edit.text) != WriteResult::kDone) {
        s.valid = false;
        return false;
      }
      s.content.replace(edit.pos, edit.erase, edit.text);
      ReindexIfItBecameASection(&s, edit.pos);
    } else {
      std::string next = change ? Edited(plan.content, edit) : plan.content;
      std::string bytes = IsUtf16(plan) ? plan.mark + FileBytes(plan, next) + plan.odd : next;
      WriteResult result = locked.Replace(bytes, now);
      s.valid = false;
      if (result == WriteResult::kFailed) return false;
      if (result == WriteResult::kChanged) {
        ++changes;
        continue;
      }
      if (has_cleaned) {
        s = std::move(cleaned);
        s.path = file;
        s.content.swap(next);
        IndexAll(&s);
      } else {
        s.content.swap(next);
        if (!ShiftIndex(&s, edit)) IndexAll(&s);
        ReindexIfItBecameASection(&s, edit.pos);
      }
      s.file_size = bytes.size();
      s.valid = true;
    }
    Adopt(s, locked);
    return true;
  }
  s.valid = false;
  return false;
}

void IniEngine::SetMarklessUtf8(bool on) {
  file_->markless_utf8 = on;
  file_->valid = false;
}

IniEngine::Place IniEngine::Where(const std::string& file, const std::string& section,
                                  const std::string& key) {
  Place place;
  if (!Refresh(*file_, file)) return place;
  const FileCopy& s = *file_;
  const std::string section_name = Text(s, Trim(CutAtNul(section)), code_page_);
  const std::string key_name = Text(s, Trim(CutAtNul(key)), code_page_);
  const std::uint32_t index = FindSection(s, section_name, HashNoCase(section_name, 0));
  if (index == kNone) return place;
  place.section_found = true;
  place.section_line = LineNumberAt(s.content, s.sections[index].begin);
  const std::uint32_t line_start = FindKey(s, index, key_name, HashKey(index, key_name));
  if (line_start == kNone) return place;
  place.key_found = true;
  place.key_line = LineNumberAt(s.content, line_start);
  return place;
}

std::vector<std::string> IniEngine::SectionNames(const std::string& file) {
  std::vector<std::string> names;
  if (!Refresh(*file_, file)) return names;
  const FileCopy& s = *file_;
  for (std::uint32_t index = 1; index < s.sections.size(); ++index) {
    const std::string_view name = SectionNameAt(s, index);
    if (s.encoding == IniEncoding::kAnsi && code_page_ != kUtf8CodePage) {
      names.emplace_back(name);
    } else {
      names.push_back(UnitsToAnsi(TextToUnits(name, IsUtf16(s)), code_page_));
    }
  }
  return names;
}
