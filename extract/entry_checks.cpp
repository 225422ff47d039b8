#include <wchar.h>

#include "engine_state.h"
#include "path_services.h"

namespace {

constexpr uint32_t kUnixExtension = 0x8000;  // FILE_ATTRIBUTE_UNIX_EXTENSION

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// Windows maps these names to devices in every folder, with any extension
// and trailing blanks ("nul.txt", "COM1 "), so they never name a file below
// the destination.
bool IsDeviceName(const wchar_t* component, size_t length) {
  size_t base = 0;
  while (base < length && component[base] != L'.') ++base;
  while (base > 0 && component[base - 1] == L' ') --base;
  wchar_t upper[8];
  if (base < 3 || base > 7) return false;
  for (size_t i = 0; i < base; ++i) upper[i] = Upper(component[i]);
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

}  // namespace

bool IsSafeEntryName(const wchar_t* name) {
  if (!IsContainedEntryName(name)) return false;
  const wchar_t* start = name;
  for (const wchar_t* p = name;; ++p) {
    if (*p == L'\0' || IsSeparator(*p)) {
      if (IsDeviceName(start, static_cast<size_t>(p - start))) return false;
      if (*p == L'\0') return true;
      start = p + 1;
    }
  }
}

uint32_t WindowsAttributes(uint32_t stored) {
  if (stored & kUnixExtension) return stored & (kUnixExtension - 1);
  return stored;
}
