#include "platform/journal.h"

#include <cstdio>

#include "base/Errors.h"

namespace {

constexpr std::string_view kMagic = "Keepxfer journal 1\n";

// FNV-1a, 64 bits: enough to tell a complete journal from a damaged one.
std::uint64_t Checksum(std::string_view bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string Hex(std::uint64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%llx", static_cast<unsigned long long>(value));
  return buffer;
}

// Reads "<name>=<value>\n" from the front of `text`.
bool TakeField(std::string_view* text, std::string_view name, std::string_view* value) {
  if (text->substr(0, name.size()) != name || text->substr(name.size(), 1) != "=") return false;
  std::size_t end = text->find('\n');
  if (end == std::string_view::npos) return false;
  *value = text->substr(name.size() + 1, end - name.size() - 1);
  text->remove_prefix(end + 1);
  return true;
}

bool ParseHex(std::string_view text, std::uint64_t* value) {
  if (text.empty() || text.size() > 16) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    v = v * 16 + static_cast<std::uint64_t>(digit);
  }
  *value = v;
  return true;
}

}  // namespace

std::string JournalName(const std::string& leaf, std::uint64_t volume, std::uint64_t file) {
  return leaf + "." + Hex(volume) + "." + Hex(file) + ".journal";
}

std::string EncodeJournal(const JournalRecord& r) {
  std::string text(kMagic);
  text += "path=" + r.path + "\n";
  text += "volume=" + Hex(r.volume) + "\n";
  text += "file=" + Hex(r.file) + "\n";
  text += "old=" + Hex(r.old_bytes.size()) + "\n";
  text += "new=" + Hex(r.new_bytes.size()) + "\n";
  std::string body = r.old_bytes + r.new_bytes;
  text += "checksum=" + Hex(Checksum(text + body)) + "\n";
  return text + body;
}

bool DecodeJournal(std::string_view text, JournalRecord* r) {
  const std::string_view whole = text;
  if (text.substr(0, kMagic.size()) != kMagic) return false;
  text.remove_prefix(kMagic.size());
  std::string_view path, volume, file, old_size, new_size, checksum;
  if (!TakeField(&text, "path", &path) || !TakeField(&text, "volume", &volume) ||
      !TakeField(&text, "file", &file) || !TakeField(&text, "old", &old_size) ||
      !TakeField(&text, "new", &new_size)) {
    return false;
  }
  const std::size_t header = whole.size() - text.size();
  if (!TakeField(&text, "checksum", &checksum)) return false;
  std::uint64_t old_count = 0, new_count = 0, sum = 0;
  if (!ParseHex(volume, &r->volume) || !ParseHex(file, &r->file) ||
      !ParseHex(old_size, &old_count) || !ParseHex(new_size, &new_count) ||
      !ParseHex(checksum, &sum) || text.size() != old_count + new_count) {
    return false;
  }
  std::string check(whole.substr(0, header));
  check.append(text);
  if (Checksum(check) != sum) return false;
  r->path.assign(path);
  r->old_bytes.assign(text.substr(0, old_count));
  r->new_bytes.assign(text.substr(old_count));
  return true;
}

JournalVerdict JudgeDataFile(std::string_view current, const JournalRecord& r) {
  if (current == r.new_bytes) return JournalVerdict::kNew;
  if (current == r.old_bytes) return JournalVerdict::kOld;
  const std::size_t old_size = r.old_bytes.size();
  const std::size_t new_size = r.new_bytes.size();
  const std::size_t longest = old_size > new_size ? old_size : new_size;
  if (current.size() != old_size && current.size() != new_size && current.size() != longest) {
    return JournalVerdict::kForeign;
  }
  for (std::size_t i = 0; i < current.size(); ++i) {
    const char c = current[i];
    bool explained = (i < old_size && c == r.old_bytes[i]) ||
                     (i < new_size && c == r.new_bytes[i]) || (i >= old_size && c == '\0');
    if (!explained) return JournalVerdict::kForeign;
  }
  return JournalVerdict::kTorn;
}

namespace {

std::string NameOf(const JournaledFile& file) {
  return JournalName(file.leaf, file.volume, file.file);
}

}  // namespace

int RecoverFromJournal(JournalFiles& files, const JournaledFile& file) {
  const std::string name = NameOf(file);
  for (int place = 0; place < files.JournalPlaces(); ++place) {
    std::string text;
    JournalRecord record;
    if (!files.ReadJournal(place, name, &text) || !DecodeJournal(text, &record) ||
        record.path != file.path || record.volume != file.volume || record.file != file.file) {
      continue;
    }
    std::string current;
    if (int code = files.ReadData(&current)) return code;
    switch (JudgeDataFile(current, record)) {
      case JournalVerdict::kForeign:
        continue;
      case JournalVerdict::kTorn:
        if (int code = files.OverwriteData(record.old_bytes)) return code;
        break;
      case JournalVerdict::kOld:
      case JournalVerdict::kNew:
        break;
    }
    files.RemoveJournal(place, name);
  }
  return 0;
}

int RewriteUnderJournal(JournalFiles& files, const JournaledFile& file, const std::string& bytes) {
  std::string old_bytes;
  if (int code = files.ReadData(&old_bytes)) return code;
  const std::string name = NameOf(file);
  const std::string text =
      EncodeJournal(JournalRecord{file.path, file.volume, file.file, old_bytes, bytes});
  int place = 0;
  int first_error = 0;
  for (; place < files.JournalPlaces(); ++place) {
    const int code = files.WriteJournal(place, name, text);
    if (code == 0) break;
    if (first_error == 0) first_error = code;
  }
  if (place == files.JournalPlaces()) return first_error != 0 ? first_error : kPathNotFound;
  if (int code = files.OverwriteData(bytes)) {
    if (files.OverwriteData(old_bytes) == 0) files.RemoveJournal(place, name);
    return code;
  }
  files.RemoveJournal(place, name);
  return 0;
}
