// DOS device names: Windows maps them to devices in every folder, with any
// extension and trailing blanks ("nul.txt", "COM1 "), so a path component of
// that name never names a file. Portable: the programs ask with wchar_t
// text; the name rules shared with kxpack, the archive entry-name checks and
// the fuzz targets with char16_t.
#ifndef KX_BASE_DEVICE_NAMES_H
#define KX_BASE_DEVICE_NAMES_H

#include <stddef.h>

// True when the path component of length units at component is a device
// name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9, LPT1-9).
template <typename Char>
inline bool IsDeviceName(const Char* component, size_t length) {
  size_t base = 0;
  while (base < length && component[base] != '.') ++base;
  while (base > 0 && component[base - 1] == ' ') --base;
  if (base < 3 || base > 7) return false;
  char32_t upper[7];
  for (size_t i = 0; i < base; ++i) {
    char32_t c = static_cast<char32_t>(component[i]);
    upper[i] = c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
  }
  auto is = [&](const char* name) {
    size_t i = 0;
    for (; name[i]; ++i)
      if (i == base || upper[i] != static_cast<char32_t>(name[i])) return false;
    return i == base;
  };
  static const char* const kPlain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* name : kPlain)
    if (is(name)) return true;
  // COM1..COM9 and LPT1..LPT9, superscript digits included.
  if (base == 4 && ((upper[0] == 'C' && upper[1] == 'O' && upper[2] == 'M') ||
                    (upper[0] == 'L' && upper[1] == 'P' && upper[2] == 'T'))) {
    char32_t digit = upper[3];
    return (digit >= '1' && digit <= '9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
  }
  return false;
}

#endif
