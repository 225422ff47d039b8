// The core library's wchar_t text and the portable cores' char16_t text are
// the same UTF-16 units on Windows; these views and copies pass text between
// them. Windows-side only: wchar_t is 32 bits wide elsewhere.
#ifndef KX_CORE_UTF16_TEXT_H
#define KX_CORE_UTF16_TEXT_H

#include <string>
#include <string_view>

namespace kxcore {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t holds UTF-16 units");

inline std::u16string_view Utf16View(std::wstring_view text) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

inline std::wstring_view WideView(std::u16string_view text) {
  return std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

inline std::wstring WideText(std::u16string_view text) { return std::wstring(WideView(text)); }

}  // namespace kxcore

#endif
