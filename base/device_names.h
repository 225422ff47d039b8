// DOS device names: Windows maps them to devices in every folder, with any
// extension and trailing blanks ("nul.txt", "COM1 "), so a path component of
// that name never names a file. Portable (UTF-16 units as char16_t, no
// Windows header): the programs, the core library and the fuzz targets share
// it.
#ifndef KX_BASE_DEVICE_NAMES_H
#define KX_BASE_DEVICE_NAMES_H

#include <stddef.h>

// True when the path component of length units at component is a device
// name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9, LPT1-9).
inline bool IsDeviceName(const char16_t* component, size_t length) {
  size_t base = 0;
  while (base < length && component[base] != u'.') ++base;
  while (base > 0 && component[base - 1] == u' ') --base;
  if (base < 3 || base > 7) return false;
  char16_t upper[8];
  for (size_t i = 0; i < base; ++i) {
    char16_t c = component[i];
    upper[i] = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
  }
  auto is = [&](const char16_t* name) {
    size_t i = 0;
    while (i < base && name[i] && upper[i] == name[i]) ++i;
    return i == base && !name[i];
  };
  static const char16_t* const kPlain[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
  for (const char16_t* name : kPlain)
    if (is(name)) return true;
  // COM1..COM9 and LPT1..LPT9, superscript digits included.
  if (base == 4 && ((upper[0] == u'C' && upper[1] == u'O' && upper[2] == u'M') ||
                    (upper[0] == u'L' && upper[1] == u'P' && upper[2] == u'T'))) {
    char16_t digit = upper[3];
    return (digit >= u'1' && digit <= u'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
  }
  return false;
}

#endif
