#include <wchar.h>

#include "extract/engine_state.h"

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
