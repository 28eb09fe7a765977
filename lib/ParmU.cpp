#include "lib/ParmU.h"

#include <algorithm>

#include "base/Ascii.h"

namespace {

std::vector<std::string> g_switch_list;
// The items as they were typed, before the switches were lower-cased.
std::vector<std::string> g_typed_items;

bool IsBlank(char c) { return ascii::IsSpaceOrControl(c); }

std::string LowerAscii(const std::string& text) { return ascii::Lower(text); }

bool IsSwitch(const std::string& item) {
  return !item.empty() && (item[0] == '/' || item[0] == '-');
}

// The switch's name: after its first character, up to the first "=".
std::string SwitchName(const std::string& item) {
  std::size_t eq = item.find('=');
  return eq == std::string::npos ? item.substr(1) : item.substr(1, eq - 1);
}

// A quoted item starting at text[*pos] == '"'. Doubled quotes stand for one;
// without a closing quote the item is the rest of the text less its last
// character, and *pos moves to the end.
std::string QuotedItem(const std::string& text, std::size_t* pos) {
  std::string item;
  std::size_t i = *pos + 1;
  while (i < text.size()) {
    if (text[i] == '"') {
      if (i + 1 < text.size() && text[i + 1] == '"') {
        item += '"';
        i += 2;
        continue;
      }
      *pos = i + 1;
      return item;
    }
    item += text[i++];
  }
  *pos = text.size();
  if (!item.empty()) item.pop_back();
  return item;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& command_line) {
  // The command line is C text: it ends at a NUL.
  const std::string text = command_line.substr(0, command_line.find('\0'));
  std::vector<std::string> items;
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && IsBlank(text[i])) ++i;
  while (i < n) {
    if (text[i] == '"') {
      items.push_back(QuotedItem(text, &i));
    } else {
      std::size_t start = i;
      while (i < n && !IsBlank(text[i]) && text[i] != ',') ++i;
      items.push_back(text.substr(start, i - start));
    }
    while (i < n && IsBlank(text[i])) ++i;
    if (i < n && text[i] == ',') {
      if (i + 1 == n) items.emplace_back();
      ++i;
      while (i < n && IsBlank(text[i])) ++i;
    }
  }
  return items;
}

void InitParmU(const std::string& commandLine) {
  g_switch_list = SplitCommandLine(commandLine);
  g_typed_items = g_switch_list;
  for (std::string& item : g_switch_list) {
    if (!IsSwitch(item)) continue;
    std::size_t eq = item.find('=');
    if (eq == std::string::npos) {
      item = LowerAscii(item);
    } else {
      item = LowerAscii(item.substr(0, eq)) + item.substr(eq);
    }
  }
}

void FinalParmU() {
  g_switch_list.clear();
  g_typed_items.clear();
}

const std::vector<std::string>& SwitchList() { return g_switch_list; }

namespace {

// The first switch item named `name`, or null. The first item is the program's own path and
// never a switch, even where a path begins with "/".
const std::string* FindSwitchItem(const std::string& name) {
  const std::string wanted = LowerAscii(name);
  for (std::size_t i = 1; i < g_switch_list.size(); ++i) {
    const std::string& item = g_switch_list[i];
    if (IsSwitch(item) && LowerAscii(SwitchName(item)) == wanted) return &item;
  }
  return nullptr;
}

}  // namespace

bool FindSwitch(const std::string& name) { return FindSwitchItem(name) != nullptr; }

void SwitchValue(const std::string& name, std::string& value) {
  const std::string* item = FindSwitchItem(name);
  if (item == nullptr) return;
  std::size_t eq = item->find('=');
  value = eq == std::string::npos ? std::string() : item->substr(eq + 1);
}

bool FindUnknownItem(const std::vector<std::string>& known, std::string* item) {
  for (std::size_t i = 1; i < g_switch_list.size(); ++i) {
    const std::string& listed = g_switch_list[i];
    if (listed.empty()) continue;
    const bool is_known =
        IsSwitch(listed) && std::any_of(known.begin(), known.end(), [&](const std::string& name) {
          return LowerAscii(SwitchName(listed)) == LowerAscii(name);
        });
    if (!is_known) {
      *item = g_typed_items[i];
      return true;
    }
  }
  return false;
}
