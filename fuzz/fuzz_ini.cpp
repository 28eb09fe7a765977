// The INI items on real files, against a plain reader of the same files.
//
// The input is the INI file's first contents, optionally followed by a line "%%" and a script of
// one operation per line:
//   w<section>|<key>|<value>   write
//   W<n>|<value>               write the n-th item that the file holds
//   r<section>|<key>           read
//   f                          drop the engine's cached copy
//   a<text>                    another program appends a line to the file in place
//   e<text>                    another program saves the file with a line added (new file, renamed)
//   d                          another program deletes the file
//   p                          go over to the other of two files
//
// The plain reader (Parse below) reads the file from disk every time and knows nothing of the
// engine's index. Every read the engine answers, cached or fresh, must match it. After every
// write the file must hold the value written (as reading presents it), and every other item
// must read as it did before: no item disappears, changes or comes into being.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/profile.h"

namespace {

constexpr std::size_t kMaxOperations = 48;
constexpr std::size_t kMaxValueLength = 2047;
const std::string kScriptMark = "\n%%\n";
const std::string kUtf8Bom = "\xEF\xBB\xBF";
const std::string kUnchanged = "\x01unchanged";

bool IsBlank(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= 0x09 && u <= 0x0D) || u == 0x20 || u == 0x1A;
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

std::string CutAtNul(const std::string& text) { return text.substr(0, text.find('\0')); }

// A name as the engine looks it up.
std::string NameKey(const std::string& name) { return Lower(Trim(CutAtNul(name))); }

// What a read presents for the text behind '=': trimmed, at most 2047 characters, and one pair
// of enclosing matching quotes removed after the cut, as GetPrivateProfileStringA does into its
// buffer of 2048 (so that an inside of exactly 2047 characters loses its last one).
std::string AsRead(const std::string& stored) {
  std::string value = Trim(stored);
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    const std::string inside = value.substr(1);  // with the closing quote
    std::string copy = inside.substr(0, kMaxValueLength);
    if (inside.size() <= kMaxValueLength + 1) copy.pop_back();
    return copy;
  }
  return value.substr(0, kMaxValueLength);
}

bool HasHighBytes(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

struct Item {
  bool has_value = false;  // the line holds a '='
  bool exact = true;       // false when the line holds a NUL: then only its presence is compared
  std::string value;       // as a read presents it
  bool operator==(const Item& o) const {
    return has_value == o.has_value && exact == o.exact && (!exact || value == o.value);
  }
};

using ItemKey = std::pair<std::string, std::string>;  // section and key, lower case

struct Parsed {
  bool exists = false;
  // A file with a byte-order mark: its names and values beyond ASCII are converted from and to
  // the Windows code page, which this reader does not model. A UTF-16 file beyond ASCII is not
  // modelled at all (opaque).
  bool unicode = false;
  bool opaque = false;
  std::string content;
  std::map<ItemKey, Item> items;
  std::vector<std::pair<std::string, std::string>> names;  // as written, in file order
};

// The items that reads can reach: those of the first section of each name (the lines before any
// section line form the section ""), and in it the first line of each key.
Parsed Parse(const std::string& path) {
  Parsed parsed;
  parsed.exists = fuzz::ReadBytes(path, &parsed.content);
  if (!parsed.exists) return parsed;
  std::string c = parsed.content;
  std::size_t pos = 0;
  if (c.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) {
    parsed.unicode = true;
    pos = kUtf8Bom.size();
  } else if (c.compare(0, 2, "\xFF\xFE") == 0 || c.compare(0, 2, "\xFE\xFF") == 0) {
    // UTF-16 that holds only ASCII: its text, one byte a unit.
    parsed.unicode = true;
    const bool big = c[0] == '\xFE';
    std::string text;
    for (std::size_t i = 2; i + 1 < c.size(); i += 2) {
      const unsigned char high = static_cast<unsigned char>(c[big ? i : i + 1]);
      const unsigned char low = static_cast<unsigned char>(c[big ? i + 1 : i]);
      if (high != 0 || low >= 0x80) parsed.opaque = true;
      text += static_cast<char>(low);
    }
    if (parsed.opaque || (c.size() % 2) != 0) {
      parsed.opaque = true;
      return parsed;
    }
    c = text;
  }
  std::set<std::string> sections_seen = {""};
  std::string section;
  std::string section_key;
  bool reachable = true;
  while (pos < c.size()) {
    std::size_t end = pos;
    while (end < c.size() && !IsLineEnd(c[end])) ++end;
    const std::string line = Trim(c.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    const std::size_t close = line.rfind(']');
    if (line[0] == '[' && close != std::string::npos) {
      // Names end at a NUL, after the trim.
      section = CutAtNul(Trim(line.substr(1, close - 1)));
      section_key = Lower(section);
      reachable = sections_seen.insert(section_key).second;
      // Names beyond ASCII in a Unicode file are reached only by their code page's names.
      if (parsed.unicode && HasHighBytes(section)) reachable = false;
      continue;
    }
    if (!reachable) continue;
    const std::size_t eq = line.find('=');
    const std::string key = CutAtNul(Trim(line.substr(0, eq)));
    if (parsed.unicode && HasHighBytes(key)) continue;
    const ItemKey item_key{section_key, Lower(key)};
    if (parsed.items.count(item_key) != 0) continue;
    Item item;
    item.has_value = eq != std::string::npos;
    if (item.has_value) {
      const std::string stored = line.substr(eq + 1);
      item.exact =
          stored.find('\0') == std::string::npos && !(parsed.unicode && HasHighBytes(stored));
      item.value = AsRead(stored);
    }
    parsed.items.emplace(item_key, item);
    parsed.names.emplace_back(section, key);
  }
  return parsed;
}

std::string Describe(const Item* item) {
  if (item == nullptr) return "absent";
  if (!item->has_value) return "a key line without '='";
  return item->exact ? fuzz::Show(item->value) : "a value with a NUL";
}

const Item* Find(const Parsed& parsed, const std::string& section, const std::string& key) {
  auto it = parsed.items.find(ItemKey{NameKey(section), NameKey(key)});
  return it == parsed.items.end() ? nullptr : &it->second;
}

std::vector<std::string> SplitFields(const std::string& text, std::size_t count) {
  std::vector<std::string> fields;
  std::size_t pos = 0;
  while (fields.size() + 1 < count) {
    std::size_t bar = text.find('|', pos);
    if (bar == std::string::npos) break;
    fields.push_back(text.substr(pos, bar - pos));
    pos = bar + 1;
  }
  fields.push_back(text.substr(pos));
  fields.resize(count);
  return fields;
}

class Session {
 public:
  Session() {
    const std::string dir = fuzz::ScratchDir();
    paths_[0] = dir + "/first.ini";
    paths_[1] = dir + "/second.ini";
  }

  void Start(const std::string& content) {
    engine_ = std::make_unique<IniItems>();
    unlink(paths_[0].c_str());
    unlink(paths_[1].c_str());
    fuzz::WriteBytes(paths_[0], content);
    current_ = 0;
    log_.clear();
  }

  void Run(const std::string& op) {
    log_ += fuzz::Show(op) + "\n";
    if (op.empty()) return;
    const std::string rest = op.substr(1);
    switch (op[0]) {
      case 'w': {
        std::vector<std::string> f = SplitFields(rest, 3);
        Write(f[0], f[1], f[2]);
        break;
      }
      case 'W': {
        std::vector<std::string> f = SplitFields(rest, 2);
        const Parsed parsed = Parse(Path());
        if (parsed.names.empty()) break;
        std::size_t n = 0;
        for (char c : f[0]) {
          if (c >= '0' && c <= '9') n = (n * 10 + static_cast<std::size_t>(c - '0')) % 100000;
        }
        const auto& name = parsed.names[n % parsed.names.size()];
        Write(name.first, name.second, f[1]);
        break;
      }
      case 'r': {
        std::vector<std::string> f = SplitFields(rest, 2);
        CheckRead(f[0], f[1]);
        break;
      }
      case 'f':
        engine_ = std::make_unique<IniItems>();
        break;
      case 'a': {
        std::FILE* file = std::fopen(Path().c_str(), "ab");
        FUZZ_CHECK(file != nullptr, "cannot append to " + Path());
        std::fwrite(rest.data(), 1, rest.size(), file);
        std::fputc('\n', file);
        std::fclose(file);
        break;
      }
      case 'e': {
        std::string content;
        fuzz::ReadBytes(Path(), &content);
        const std::string temp = Path() + ".new";
        fuzz::WriteBytes(temp, content + rest + "\n");
        FUZZ_CHECK(std::rename(temp.c_str(), Path().c_str()) == 0, "cannot rename " + temp);
        break;
      }
      case 'd':
        unlink(Path().c_str());
        break;
      case 'p':
        current_ ^= 1;
        break;
      default:
        break;
    }
  }

  // Every item of both files, read through the cached copy and then afresh.
  void Sweep() {
    for (int pass = 0; pass < 2; ++pass) {
      current_ ^= 1;
      const Parsed parsed = Parse(Path());
      std::size_t count = 0;
      for (const auto& name : parsed.names) {
        if (++count > 32) break;
        CheckRead(parsed, name.first, name.second);
        engine_ = std::make_unique<IniItems>();
        CheckRead(parsed, name.first, name.second);
      }
      CheckRead(parsed, "no such section", "no such key");
    }
  }

 private:
  const std::string& Path() const { return paths_[current_]; }

  std::string Context(const Parsed& parsed) const {
    return "\nfile " + Path() +
           (parsed.exists ? ": " + fuzz::Show(parsed.content) : " is missing") + "\noperations:\n" +
           log_;
  }

  void CheckRead(const std::string& section, const std::string& key) {
    const Parsed parsed = Parse(Path());
    CheckRead(parsed, section, key);
  }

  void CheckRead(const Parsed& parsed, const std::string& section, const std::string& key) {
    if (parsed.opaque) return;
    // Names beyond ASCII are converted for a Unicode file, so the file's own bytes do not find
    // them.
    if (parsed.unicode && (HasHighBytes(section) || HasHighBytes(key))) return;
    const Item* item = Find(parsed, section, key);
    std::string value = kUnchanged;
    const bool found = engine_->Read(Path(), section, key, &value);
    const bool readable = item != nullptr && item->has_value;
    FUZZ_CHECK(
        found == readable && (found ? !item->exact || value == item->value : value == kUnchanged),
        "ReadValue(" + fuzz::Show(section) + ", " + fuzz::Show(key) + ") answered " +
            (found ? fuzz::Show(value) : "nothing (" + fuzz::Show(value) + ")") +
            ", the file holds " + Describe(item) + Context(parsed));
  }

  void Write(const std::string& section, const std::string& key, const std::string& value) {
    // Names and values as the engine stores them; lines that it cannot store as such are left
    // out: line ends anywhere, a '=' in the key, or a key line that reads as a section line (its
    // key starts with '[' and a ']' follows anywhere on it, in the value too).
    const std::string s = Trim(CutAtNul(section));
    const std::string k = Trim(CutAtNul(key));
    const std::string v = CutAtNul(value);
    for (const std::string* text : {&s, &k, &v}) {
      if (text->find_first_of("\r\n") != std::string::npos) return;
    }
    if (k.find('=') != std::string::npos) return;
    if (!k.empty() && k[0] == '[' && (k + v).find(']') != std::string::npos) return;

    const Parsed before = Parse(Path());
    // In a Unicode file, what is beyond ASCII is written converted, which this reader does not
    // model.
    if (before.opaque || (before.unicode && HasHighBytes(s + k + v))) return;
    FUZZ_CHECK(engine_->Write(Path(), section, key, value),
               "WriteValue(" + fuzz::Show(section) + ", " + fuzz::Show(key) + ", " +
                   fuzz::Show(value) + ") failed" + Context(before));
    const Parsed after = Parse(Path());
    const ItemKey written{Lower(s), Lower(k)};
    const std::string expected = AsRead(v);
    const std::string what = "after WriteValue(" + fuzz::Show(section) + ", " + fuzz::Show(key) +
                             ", " + fuzz::Show(value) + ")";

    const Item* item = Find(after, section, key);
    // A line that holds a NUL behind the value may stay: the engine reads up to the NUL, and
    // when that reads as the value written there is nothing to change. Its reads are checked
    // below, cached and fresh.
    FUZZ_CHECK(item != nullptr && item->has_value && (!item->exact || item->value == expected),
               what + " the file holds " + Describe(item) + ", expected " + fuzz::Show(expected) +
                   "\nbefore: " + fuzz::Show(before.content) + Context(after));
    for (const auto& entry : before.items) {
      if (entry.first == written) continue;
      auto now = after.items.find(entry.first);
      FUZZ_CHECK(now != after.items.end() && now->second == entry.second,
                 what + " the item [" + fuzz::Show(entry.first.first) + "] " +
                     fuzz::Show(entry.first.second) + " went from " + Describe(&entry.second) +
                     " to " + Describe(now == after.items.end() ? nullptr : &now->second) +
                     "\nbefore: " + fuzz::Show(before.content) + Context(after));
    }
    for (const auto& entry : after.items) {
      FUZZ_CHECK(entry.first == written || before.items.count(entry.first) != 0,
                 what + " the item [" + fuzz::Show(entry.first.first) + "] " +
                     fuzz::Show(entry.first.second) +
                     " appeared\nbefore: " + fuzz::Show(before.content) + Context(after));
    }

    CheckRead(after, section, key);
    for (int fresh = 0; fresh < (item->exact ? 1 : 2); ++fresh) {
      if (fresh) engine_ = std::make_unique<IniItems>();
      std::string read = kUnchanged;
      FUZZ_CHECK(
          engine_->Read(Path(), section, key, &read) && read == expected,
          what + (fresh ? " a fresh" : " a") + " read gave " + fuzz::Show(read) + Context(after));
    }
    // A few other items, through the copy the write left.
    for (std::size_t i = 0; i < after.names.size() && i < 6; ++i) {
      const auto& name = after.names[(i * 7 + writes_) % after.names.size()];
      CheckRead(after, name.first, name.second);
    }
    ++writes_;
  }

  std::string paths_[2];
  std::unique_ptr<IniItems> engine_ = std::make_unique<IniItems>();
  int current_ = 0;
  std::size_t writes_ = 0;
  std::string log_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Session session;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t mark = input.find(kScriptMark);
  session.Start(input.substr(0, mark));
  if (mark != std::string::npos) {
    const std::string script = input.substr(mark + kScriptMark.size());
    std::size_t pos = 0;
    for (std::size_t n = 0; n < kMaxOperations && pos <= script.size(); ++n) {
      std::size_t end = script.find('\n', pos);
      if (end == std::string::npos) end = script.size();
      session.Run(script.substr(pos, end - pos));
      pos = end + 1;
    }
  }
  session.Sweep();
  return 0;
}
