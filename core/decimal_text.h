// Decimal text of an integer, as std::to_wstring writes it. std::to_wstring
// formats through the C runtime's printf family, which would bring tens of
// kilobytes into the library for a few error numbers.
#ifndef KX_CORE_DECIMAL_TEXT_H
#define KX_CORE_DECIMAL_TEXT_H

#include <string>

namespace kxcore {

inline std::wstring DecimalText(long long value) {
  wchar_t digits[24];
  wchar_t* const end = digits + sizeof(digits) / sizeof(digits[0]);
  wchar_t* start = end;
  unsigned long long rest = value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  do {
    *--start = static_cast<wchar_t>(L'0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  if (value < 0) *--start = L'-';
  return std::wstring(start, end);
}

}  // namespace kxcore

#endif
