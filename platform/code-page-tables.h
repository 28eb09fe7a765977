// Data of text.cpp (POSIX builds only).
#pragma once

#include <cstddef>
#include <cstdint>

struct LocaleCodePages {
  unsigned code_page;
  const char* names;  // separated by blanks
};
extern const LocaleCodePages kLocaleCodePages[];
extern const std::size_t kLocaleCodePageCount;

struct ExtraByte {
  unsigned code_page;
  unsigned char byte;
  char16_t character;
};
extern const ExtraByte kExtraBytes[];
extern const std::size_t kExtraByteCount;

struct BestFits {
  unsigned code_page;
  const std::uint32_t* fits;  // character << 8 | byte
  std::size_t count;
};
extern const BestFits kBestFits[];
extern const std::size_t kBestFitsCount;
