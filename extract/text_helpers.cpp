#include <wchar.h>

#include "engine_state.h"

bool AppendText(wchar_t* dest, size_t capacity, const wchar_t* source) {
  size_t used = wcsnlen(dest, capacity);
  if (used >= capacity) {
    dest[capacity - 1] = L'\0';
    return false;
  }
  size_t length = wcslen(source);
  size_t room = capacity - 1 - used;
  size_t copied = length < room ? length : room;
  wmemcpy(dest + used, source, copied);
  dest[used + copied] = L'\0';
  return copied == length;
}

void SetVarLiteral(const wchar_t* name, const wchar_t* value) {
  // Each unit may double; the texts given here are paths and names of at
  // most 782 units.
  wchar_t escaped[2 * kExtractPathCapacity];
  size_t out = 0;
  for (const wchar_t* p = value; *p && out + 2 < sizeof(escaped) / sizeof(escaped[0]); ++p) {
    escaped[out++] = *p;
    if (*p == L'%') escaped[out++] = L'%';
  }
  escaped[out] = L'\0';
  SetVar(name, escaped);
}
