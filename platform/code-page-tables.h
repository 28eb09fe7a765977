// Data of ini-text.cpp (POSIX builds only).
#pragma once

#include <cstddef>

struct LocaleCodePages {
  unsigned code_page;
  const char* names;  // separated by blanks
};
extern const LocaleCodePages kLocaleCodePages[];
extern const std::size_t kLocaleCodePageCount;

struct BestFit {
  char16_t character;
  unsigned char byte;
};
extern const BestFit kBestFit1252[];
extern const std::size_t kBestFit1252Count;
