#include "platform/profile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "ini/document.h"
#include "ini/edit.h"
#include "ini/lines.h"
#include "ini/text.h"
#include "platform/code-page.h"
#include "platform/ini-file.h"

namespace {

using inifile::FileKind;
using inifile::FileStamp;
using inifile::WriteResult;

// A write that finds bytes it read changed under it by another program starts again from the new
// contents, a few dozen times at most. Another program's appends never count: they are taken in.
constexpr int kWriteAttempts = 32;
// The code page of locales without an ANSI one: UTF-8.
constexpr unsigned kUtf8CodePage = 65001;

// Bytes of a write that landed behind another program's append, and so maybe in its section:
// the next attempt takes them out again.
struct Stray {
  bool active = false;
  std::uint64_t at = 0;
  std::string bytes;
};

}  // namespace

// The file as last seen.
struct IniItems::Copy {
  bool valid = false;
  std::string path;
  FileStamp stamp;
  ini::Document doc;
};

namespace {

using Copy = IniItems::Copy;

// Makes the copy the one of `path`: what a stopped in-place rewrite of the file left is finished
// first, once a run.
void Follow(Copy& s, const std::string& path) {
  if (s.path == path) return;
  s.valid = false;
  s.path = path;
  inifile::Recover(path);
}

// Brings the copy up to date with the file `path`: reads it again unless its stamp is the one
// the copy was taken from. False when something is there that cannot be read.
bool Refresh(Copy& s, const std::string& path) {
  Follow(s, path);
  FileStamp now = inifile::StatFile(path);
  if (s.valid && s.stamp == now) return true;
  s.valid = false;
  if (now.kind == FileKind::kOther || now.size > ini::kMaxFileSize) return false;
  bool read = false;
  bool changed = now.kind == FileKind::kRegular;
  std::string raw;
  // A file that changes while it is read is read again, a few times at most.
  for (int attempt = 0; attempt < 3 && changed && !read; ++attempt) {
    read = inifile::ReadWholeFile(path, &raw, &s.stamp, &changed);
  }
  if (read && s.stamp.size > ini::kMaxFileSize) return false;
  if (!read) {
    // It may have gone between the two looks; then it is simply missing.
    if (now.kind == FileKind::kRegular && inifile::StatFile(path).kind != FileKind::kMissing) {
      return false;
    }
    raw.clear();
    s.stamp = FileStamp();
  }
  s.doc.Follow(std::move(raw));
  s.valid = true;
  return true;
}

// Takes the copy to the file as `file` has it now, unless the copy is of that very state. The
// bytes `stray` left by the last attempt are taken out again if they are still there as written;
// then *cleaned holds the file without them, and the copy is the file as it is.
bool Catch(Copy& s, const std::string& path, const inifile::LockedFile& file, const FileStamp& now,
           const Stray& stray, ini::Document* cleaned, bool* has_cleaned) {
  *has_cleaned = false;
  if (s.valid && s.path == path && s.stamp == now && !stray.active) return true;
  s.valid = false;
  s.path = path;
  std::string raw;
  if (now.size > ini::kMaxFileSize || !file.Read(0, now.size, &raw)) return false;
  if (stray.active &&
      raw.compare(static_cast<std::size_t>(stray.at), stray.bytes.size(), stray.bytes) == 0) {
    std::string without = raw;
    without.erase(static_cast<std::size_t>(stray.at), stray.bytes.size());
    cleaned->Load(std::move(without));
    *has_cleaned = true;
  }
  // The copy follows what changed: another program's appends, another run's item.
  s.doc.Follow(std::move(raw));
  s.stamp = now;
  s.valid = true;
  return true;
}

// Takes this run's append, which landed at `at`, into the copy, with what another program
// appended before it in the meantime. False when a read would not find the item there.
bool TakeAppend(Copy& s, const inifile::LockedFile& file, std::uint64_t at, std::uint64_t written,
                const ini::Edit& edit, std::string_view section, std::string_view key) {
  std::string between;
  const std::uint64_t end = s.doc.file_size;
  if (at != end && (s.doc.IsUtf16() || at < end || at - end > ini::kMaxFileSize ||
                    !file.Read(end, at - end, &between))) {
    return false;
  }
  return ini::TookAppend(&s.doc, edit, at, written, between, section, key);
}

// The copy follows the file after a write of this run only when the file is exactly what the
// write made it; a file that another program changed at the same time is read afresh next time.
void Adopt(Copy& s, const inifile::LockedFile& file) {
  FileStamp after = file.stamp();
  if (after.kind == FileKind::kRegular && after.size == s.doc.file_size) {
    s.stamp = after;
  } else {
    s.valid = false;
  }
}

// An 8-bit name or value of the tool's as the copy's text: as it is for an ANSI file, in UTF-8
// for a Unicode one.
std::string Text(const ini::Document& doc, std::string_view ansi, unsigned code_page) {
  if (doc.encoding == IniEncoding::kAnsi) return std::string(ansi);
  return AnsiToText(ansi, code_page);
}

}  // namespace

IniItems::IniItems() : IniItems(AnsiCodePage()) {}
IniItems::IniItems(unsigned code_page) : copy_(std::make_unique<Copy>()), code_page_(code_page) {}
IniItems::~IniItems() = default;

bool IniItems::Read(const std::string& file, const std::string& section, const std::string& key,
                    std::string* value) {
  if (!Refresh(*copy_, file)) return false;
  const ini::Document& doc = copy_->doc;
  // The names as the file's text: as they are in an ANSI file, converted in a Unicode one.
  std::string_view section_name = ini::Trim(ini::CutAtNul(section));
  std::string_view key_name = ini::Trim(ini::CutAtNul(key));
  std::string section_text, key_text;
  if (doc.encoding != IniEncoding::kAnsi) {
    section_text = Text(doc, section_name, code_page_);
    key_text = Text(doc, key_name, code_page_);
    section_name = section_text;
    key_name = key_text;
  }
  std::string_view found;
  if (!doc.Find(section_name, key_name, &found)) return false;
  if (doc.encoding == IniEncoding::kAnsi && code_page_ != kUtf8CodePage) {
    *value = std::string(ini::Unquoted(found));
  } else {
    std::u16string units = TextToUnits(found, doc.IsUtf16());
    *value = UnitsToAnsi(ini::Unquoted(std::u16string_view(units)), code_page_);
  }
  return true;
}

namespace {

// How one attempt at an item's write ended.
enum class Outcome {
  kDone,
  kFailed,   // the file cannot be written
  kAgain,    // this run's append landed where a read would not find it: it is taken out again
  kChanged,  // another program changed what the attempt read
};

// An item's write as one attempt plans it, with the file locked: the text it plans on (the copy,
// or the file without the bytes that the last attempt left astray) and the edit.
struct Plan {
  const ini::Document* doc = nullptr;
  bool cleaned = false;
  std::string section;  // the names as the file's text has them
  std::string key;
  ini::Edit edit;
  bool change = false;
};

// The whole file in UTF-8 instead, its text converted from the code page with the item in it, so
// that it reads as it was meant.
Outcome StoreAsUtf8(Copy& s, inifile::LockedFile& locked, const FileStamp& read, const Plan& plan,
                    unsigned code_page) {
  std::string next = AnsiToText(ini::Edited(plan.doc->content, plan.edit), code_page);
  if (next.size() > ini::kMaxFileSize) return Outcome::kFailed;
  const WriteResult result = locked.Replace(next, read);
  if (result != WriteResult::kDone) {
    return result == WriteResult::kChanged ? Outcome::kChanged : Outcome::kFailed;
  }
  s.doc.Load(std::move(next));
  return Outcome::kDone;
}

// An append: at the true end of the file, wherever another program may have put it since.
Outcome StoreByAppending(Copy& s, inifile::LockedFile& locked, const Plan& plan, Stray* stray) {
  const std::string bytes = s.doc.FileBytes(plan.edit.text);
  std::uint64_t at = 0;
  if (locked.Append(bytes, &at) != WriteResult::kDone) return Outcome::kFailed;
  if (TakeAppend(s, locked, at, bytes.size(), plan.edit, plan.section, plan.key)) {
    return Outcome::kDone;
  }
  // Behind another program's bytes, where a read would not find it: the next attempt takes it out
  // again and puts the item where it belongs.
  *stray = Stray{true, at, bytes};
  return Outcome::kAgain;
}

// The same number of bytes, in place.
Outcome StoreInPlace(Copy& s, inifile::LockedFile& locked, const Plan& plan) {
  if (locked.Overwrite(plan.edit.pos, plan.edit.text) != WriteResult::kDone) {
    return Outcome::kFailed;
  }
  ini::TookInPlace(&s.doc, plan.edit);
  return Outcome::kDone;
}

// The whole file replaced by its text with the edit.
Outcome StoreByReplacing(Copy& s, inifile::LockedFile& locked, const FileStamp& read,
                         const Plan& plan, ini::Document* cleaned) {
  const ini::Document& doc = *plan.doc;
  std::string next = plan.change ? ini::Edited(doc.content, plan.edit) : doc.content;
  const std::string bytes = doc.IsUtf16() ? doc.mark + doc.FileBytes(next) + doc.odd : next;
  const WriteResult result = locked.Replace(bytes, read);
  if (result != WriteResult::kDone) {
    return result == WriteResult::kChanged ? Outcome::kChanged : Outcome::kFailed;
  }
  if (plan.cleaned) {
    s.doc = std::move(*cleaned);
    s.doc.content.swap(next);
    s.doc.IndexAll();
    s.doc.file_size = bytes.size();
  } else {
    ini::TookReplacement(&s.doc, plan.edit, std::move(next), bytes.size());
  }
  return Outcome::kDone;
}

}  // namespace

bool IniItems::Write(const std::string& file, const std::string& section, const std::string& key,
                     const std::string& value) {
  const std::string_view ansi_section = ini::Trim(ini::CutAtNul(section));
  const std::string_view ansi_key = ini::Trim(ini::CutAtNul(key));
  const std::string_view ansi_value = ini::TrimLeft(ini::CutAtNul(value));
  Copy& s = *copy_;
  Follow(s, file);
  Stray stray;
  // Each attempt holds the file locked from its look at the file to the end of its write, so
  // that other runs of the tool wait; it starts again when another program changed what it read,
  // or when its append landed where another program's bytes keep a read from finding it.
  for (int changes = 0; changes < kWriteAttempts;) {
    inifile::LockedFile locked;
    if (locked.Open(file) != WriteResult::kDone) break;
    const FileStamp read = locked.stamp();
    ini::Document cleaned;
    cleaned.markless_utf8 = s.doc.markless_utf8;
    Plan plan;
    if (!Catch(s, file, locked, read, stray, &cleaned, &plan.cleaned)) break;
    stray.active = false;
    plan.doc = plan.cleaned ? &cleaned : &s.doc;
    plan.section = Text(*plan.doc, ansi_section, code_page_);
    plan.key = Text(*plan.doc, ansi_key, code_page_);
    plan.change = ini::PlanEdit(*plan.doc, plan.section, plan.key,
                                Text(*plan.doc, ansi_value, code_page_), &plan.edit);
    if (!plan.change && !plan.cleaned) return true;
    const ini::Edit& edit = plan.edit;
    if (plan.doc->content.size() - edit.erase + edit.text.size() > ini::kMaxFileSize) break;

    Outcome outcome;
    if (plan.change && ini::BecomesUtf8(*plan.doc, edit)) {
      outcome = StoreAsUtf8(s, locked, read, plan, code_page_);
    } else if (!plan.cleaned && edit.IsAppendTo(s.doc)) {
      outcome = StoreByAppending(s, locked, plan, &stray);
    } else if (!plan.cleaned && !s.doc.IsUtf16() && edit.IsSameLength()) {
      outcome = StoreInPlace(s, locked, plan);
    } else {
      outcome = StoreByReplacing(s, locked, read, plan, &cleaned);
    }
    if (outcome == Outcome::kDone) {
      s.valid = true;
      Adopt(s, locked);
      return true;
    }
    s.valid = false;
    if (outcome == Outcome::kFailed) return false;
    if (outcome == Outcome::kChanged) ++changes;
  }
  s.valid = false;
  return false;
}

void IniItems::SetMarklessUtf8(bool on) {
  copy_->doc.markless_utf8 = on;
  copy_->valid = false;
}

IniItems::Place IniItems::Where(const std::string& file, const std::string& section,
                                const std::string& key) {
  Place place;
  if (!Refresh(*copy_, file)) return place;
  const ini::Document& doc = copy_->doc;
  const std::string section_name = Text(doc, ini::Trim(ini::CutAtNul(section)), code_page_);
  const std::string key_name = Text(doc, ini::Trim(ini::CutAtNul(key)), code_page_);
  const std::uint32_t index = doc.FindSection(section_name);
  if (index == ini::kNone) return place;
  place.section_found = true;
  place.section_line = doc.LineOf(doc.sections[index].begin);
  const std::uint32_t line_start = doc.FindKey(index, key_name);
  if (line_start == ini::kNone) return place;
  place.key_found = true;
  place.key_line = doc.LineOf(line_start);
  return place;
}

std::vector<std::string> IniItems::SectionNames(const std::string& file) {
  std::vector<std::string> names;
  if (!Refresh(*copy_, file)) return names;
  const ini::Document& doc = copy_->doc;
  for (std::uint32_t index = 1; index < doc.sections.size(); ++index) {
    const std::string_view name = doc.SectionNameAt(index);
    if (doc.encoding == IniEncoding::kAnsi && code_page_ != kUtf8CodePage) {
      names.emplace_back(name);
    } else {
      names.push_back(UnitsToAnsi(TextToUnits(name, doc.IsUtf16()), code_page_));
    }
  }
  return names;
}
