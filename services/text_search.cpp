#include "services/text_search.h"

#include <wchar.h>

const wchar_t* TextAfter(const wchar_t* text, const wchar_t* pattern) {
  const wchar_t* found = wcsstr(text, pattern);
  return found ? found + wcslen(pattern) : text;
}

wchar_t* TextCutAt(wchar_t* text, const wchar_t* pattern) {
  wchar_t* found = wcsstr(text, pattern);
  if (found) *found = L'\0';
  return text;
}
