// The command-line splitter and the switch list.
//
// Three views of one input:
// - the text as a command line: a text without double quotes must split as a second, differently
//   built splitter says (at commas first, then at blanks), and the switch list and its look-ups
//   must agree with a plain scan of the items;
// - the text cut into items that are quoted and joined again, the way a command line is built
//   from an argument vector: splitting must give the items back exactly;
// - names taken from the items, in other letter cases, for FindSwitch and SwitchValue.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "lib/ParmU.h"

namespace {

using Items = std::vector<std::string>;

bool IsBlank(char c) { return c != '\0' && static_cast<unsigned char>(c) <= 32; }

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return text;
}

std::string ShowItems(const Items& items) {
  std::string out = "[";
  for (const std::string& item : items) out += (out.size() > 1 ? ", " : "") + fuzz::Show(item);
  return out + "]";
}

// The words of a text: its runs of non-blank characters.
Items Words(const std::string& text) {
  Items words;
  std::string word;
  for (char c : text) {
    if (IsBlank(c)) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// Splitting a text without double quotes: between two commas, or before the first or after the
// last one, stand that stretch's words, or one empty item where it has none. After the last
// comma, only an empty stretch (the comma ends the text) gives an empty item.
Items SplitUnquoted(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  std::vector<std::string> stretches;
  std::size_t from = start;
  for (std::size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1) {
    stretches.push_back(text.substr(from, comma - from));
  }
  stretches.push_back(text.substr(from));

  Items items;
  for (std::size_t i = 0; i < stretches.size(); ++i) {
    Items words = Words(stretches[i]);
    const bool last = i + 1 == stretches.size();
    if (!words.empty()) {
      items.insert(items.end(), words.begin(), words.end());
    } else if (!last || (stretches.size() > 1 && stretches[i].empty())) {
      items.emplace_back();
    }
  }
  return items;
}

bool IsSwitch(const std::string& item) {
  return !item.empty() && (item[0] == '-' || item[0] == '/');
}

// Checks the switch list built from `line`, and the look-ups of `names` in it.
void CheckSwitchList(const std::string& line, const Items& split, const Items& names) {
  InitParmU(line);
  const Items& list = SwitchList();
  FUZZ_CHECK(list.size() == split.size(),
             "switch list " + ShowItems(list) + " against items " + ShowItems(split));
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string expected = split[i];
    if (IsSwitch(expected)) {
      const std::size_t eq = expected.find('=');
      expected =
          Lower(expected.substr(0, eq)) + (eq == std::string::npos ? "" : expected.substr(eq));
    }
    FUZZ_CHECK(list[i] == expected, "switch item " + fuzz::Show(list[i]) + " made of " +
                                        fuzz::Show(split[i]) + ", expected " +
                                        fuzz::Show(expected));
  }

  for (const std::string& name : names) {
    // The first switch whose key is the name, letter case aside; the first item is the program's
    // own path, never a switch.
    const std::string* match = nullptr;
    for (std::size_t i = 1; i < list.size(); ++i) {
      const std::string& item = list[i];
      if (!IsSwitch(item)) continue;
      const std::string key = item.substr(1, item.find('=') - 1);
      if (Lower(key) == Lower(name)) {
        match = &item;
        break;
      }
    }
    FUZZ_CHECK(FindSwitch(name) == (match != nullptr),
               "FindSwitch(" + fuzz::Show(name) + ") in " + ShowItems(list));

    const std::string untouched = "\x01untouched";
    std::string value = untouched;
    SwitchValue(name, value);
    std::string expected = untouched;
    if (match != nullptr) {
      const std::size_t eq = match->find('=');
      expected = eq == std::string::npos ? "" : match->substr(eq + 1);
    }
    FUZZ_CHECK(value == expected, "SwitchValue(" + fuzz::Show(name) + ") gave " +
                                      fuzz::Show(value) + ", expected " + fuzz::Show(expected) +
                                      " in " + ShowItems(list));
  }
  FinalParmU();
  FUZZ_CHECK(SwitchList().empty(), "FinalParmU left " + ShowItems(SwitchList()));
}

// The names looked up: the program's own switches, and each switch key of the list as it is, in
// capitals, and with one character less or more.
Items NamesFor(const Items& items) {
  Items names = {"Exp", "Export", "Imp", "Import", "?", "Hlp", "Fil", "", "-exp", "EXP="};
  for (const std::string& item : items) {
    if (!IsSwitch(item) || names.size() > 40) continue;
    const std::string key = item.substr(1, item.find('=') - 1);
    names.push_back(key);
    names.push_back(Upper(key));
    if (!key.empty()) names.push_back(key.substr(0, key.size() - 1));
    names.push_back(key + "x");
  }
  return names;
}

// A command line made of `items`, each in double quotes with its own double quotes doubled, and
// separated by blanks or a comma, picked by `seps`.
std::string QuoteAndJoin(const Items& items, const std::string& seps) {
  static const char* const kSeparators[] = {" ", ",", "\t", " , ", "  ", ",\t"};
  std::string line;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) {
      unsigned char pick = seps.empty() ? 0 : static_cast<unsigned char>(seps[i % seps.size()]);
      line += kSeparators[pick % (sizeof kSeparators / sizeof kSeparators[0])];
    }
    line += '"';
    for (char c : items[i]) line += c == '"' ? std::string("\"\"") : std::string(1, c);
    line += '"';
  }
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // The text as a command line. It is C text: only what comes before a NUL counts.
  const std::string line = input.substr(0, input.find('\0'));
  const Items split = SplitCommandLine(input);
  FUZZ_CHECK(split == SplitCommandLine(line),
             "a NUL and what follows it changed the split of " + fuzz::Show(input));
  std::size_t total = 0;
  for (const std::string& item : split) {
    FUZZ_CHECK(item.find('\0') == std::string::npos, "an item holds a NUL: " + ShowItems(split));
    total += item.size();
  }
  FUZZ_CHECK(total <= line.size(), "items longer than the text: " + ShowItems(split));
  const std::size_t quote = line.find('"');
  if (quote == std::string::npos || line.find('"', quote + 1) == std::string::npos) {
    Items expected = SplitUnquoted(line);
    if (quote != std::string::npos) {
      // One double quote: inside an item it is an ordinary character; at the start of one it
      // opens a quoted item that never closes, which is the rest of the text less its last
      // character.
      const std::string before = line.substr(0, quote);
      if (std::all_of(before.begin(), before.end(), IsBlank) || IsBlank(before.back()) ||
          before.back() == ',') {
        expected = SplitUnquoted(before + "x");
        const std::string rest = line.substr(quote + 1);
        expected.back() = rest.substr(0, rest.empty() ? 0 : rest.size() - 1);
      }
    }
    FUZZ_CHECK(split == expected, "split of " + fuzz::Show(line) + " is " + ShowItems(split) +
                                      ", expected " + ShowItems(expected));
  }
  CheckSwitchList(input, split, NamesFor(split));

  // The text as items: pieces between \x01 bytes, with \x02 bytes choosing the separators.
  Items items;
  std::string seps;
  std::string piece;
  for (char c : line) {
    if (c == '\x01') {
      items.push_back(piece);
      piece.clear();
    } else if (c == '\x02') {
      seps += piece.empty() ? '\0' : piece.back();
    } else {
      piece += c;
    }
  }
  items.push_back(piece);
  const std::string joined = QuoteAndJoin(items, seps);
  const Items back = SplitCommandLine(joined);
  FUZZ_CHECK(back == items, "quoted items " + ShowItems(items) + " joined as " +
                                fuzz::Show(joined) + " split into " + ShowItems(back));
  return 0;
}
