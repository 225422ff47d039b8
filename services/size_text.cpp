#include "services/size_text.h"

#include <stdio.h>
#include <wchar.h>

#include "core/kxcore.h"

void FormatByteSize(uint64_t bytes, wchar_t* text, size_t capacity) {
  if (capacity == 0) return;
  const wchar_t* unitKey = L"#kilobytes";
  uint64_t unit = 1024;
  if (bytes >= (uint64_t{1} << 30)) {
    unitKey = L"#gigabytes";
    unit = uint64_t{1} << 30;
  } else if (bytes >= (uint64_t{1} << 20)) {
    unitKey = L"#megabytes";
    unit = uint64_t{1} << 20;
  }
  wchar_t unitText[32];
  EvalVarBuf(unitKey, unitText, sizeof(unitText));
  const unsigned long long whole = bytes / unit;
  const unsigned long long tenths = (bytes % unit) * 10 / unit;
  if (unit == 1024)
    _snwprintf(text, capacity, L"%llu %ls", whole, unitText);
  else
    _snwprintf(text, capacity, L"%llu.%llu %ls", whole, tenths, unitText);
  text[capacity - 1] = L'\0';
}
