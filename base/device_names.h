// DOS device names: Windows maps them to devices in every folder, with any
// extension and trailing blanks ("nul.txt", "COM1 "), so a path component of
// that name never names a file.
#ifndef KX_BASE_DEVICE_NAMES_H
#define KX_BASE_DEVICE_NAMES_H

#include <stddef.h>
#include <wchar.h>

// True when the path component of length units at component is a device
// name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9, LPT1-9).
inline bool IsDeviceName(const wchar_t* component, size_t length) {
  size_t base = 0;
  while (base < length && component[base] != L'.') ++base;
  while (base > 0 && component[base - 1] == L' ') --base;
  if (base < 3 || base > 7) return false;
  wchar_t upper[8];
  for (size_t i = 0; i < base; ++i) {
    wchar_t c = component[i];
    upper[i] = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  }
  upper[base] = L'\0';
  static const wchar_t* const kPlain[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* name : kPlain)
    if (wcscmp(upper, name) == 0) return true;
  // COM1..COM9 and LPT1..LPT9, superscript digits included.
  if (base == 4 && (wcsncmp(upper, L"COM", 3) == 0 || wcsncmp(upper, L"LPT", 3) == 0)) {
    wchar_t digit = upper[3];
    return (digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
  }
  return false;
}

#endif
