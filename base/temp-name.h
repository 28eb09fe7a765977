// The names of the temporary files that the tool writes beside a file it replaces, the same on
// every platform: ".<name>.XXXXXX", six letters and digits drawn from a seed, so that a run finds
// what a killed run left of the same file.
#pragma once

#include <string>
#include <string_view>

template <typename Char>
std::basic_string<Char> TempName(std::basic_string_view<Char> leaf, unsigned long long seed) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::basic_string<Char> name(1, Char('.'));
  name.append(leaf).push_back(Char('.'));
  unsigned long long x = seed;
  for (int i = 0; i < 6; ++i) {
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    name.push_back(Char(kChars[x % 62]));
  }
  return name;
}

template <typename Char>
bool IsTempNameOf(std::basic_string_view<Char> name, std::basic_string_view<Char> leaf) {
  if (name.size() != leaf.size() + 8 || name[0] != Char('.') ||
      name.substr(1, leaf.size()) != leaf || name[leaf.size() + 1] != Char('.')) {
    return false;
  }
  for (Char c : name.substr(leaf.size() + 2)) {
    bool ok = (c >= Char('a') && c <= Char('z')) || (c >= Char('A') && c <= Char('Z')) ||
              (c >= Char('0') && c <= Char('9'));
    if (!ok) return false;
  }
  return true;
}
