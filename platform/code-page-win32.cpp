// The ANSI code pages through the Windows API: Windows' own code page tables and best fits.
#include "platform/code-page.h"

#include <windows.h>

#include "ini/text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t),
              "Windows' wide characters are UTF-16 code units");

unsigned AnsiCodePage() { return GetACP(); }

std::string AnsiToText(std::string_view ansi, unsigned code_page) {
  if (ansi.empty()) return std::string();
  const int size = static_cast<int>(ansi.size());
  std::wstring units(ansi.size() * 2, L'\0');
  int count = MultiByteToWideChar(code_page, 0, ansi.data(), size, &units[0],
                                  static_cast<int>(units.size()));
  units.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  return UnitsToText(
      std::u16string_view(reinterpret_cast<const char16_t*>(units.data()), units.size()));
}

std::string UnitsToAnsi(std::u16string_view units, unsigned code_page) {
  if (units.empty()) return std::string();
  const int size = static_cast<int>(units.size());
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(units.data());
  // No flags: a character the code page cannot hold becomes its best fit, or the default "?".
  int count = WideCharToMultiByte(code_page, 0, wide, size, nullptr, 0, nullptr, nullptr);
  std::string ansi(count > 0 ? static_cast<std::size_t>(count) : 0, '\0');
  if (count > 0) WideCharToMultiByte(code_page, 0, wide, size, &ansi[0], count, nullptr, nullptr);
  return ansi;
}
