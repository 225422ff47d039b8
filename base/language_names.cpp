#include "base/language_names.h"

namespace kxlang {

const KnownLanguage kKnownLanguages[] = {
    {1033, L"English"},  {1031, L"German"},  {1036, L"French"},           {3082, L"Spanish"},
    {1040, L"Italian"},  {1046, L"PortugueseBrazil"}, {1043, L"Dutch"},    {1045, L"Polish"},
    {1049, L"Russian"},  {1055, L"Turkish"}, {1041, L"Japanese"},         {2052, L"ChineseSimplified"},
    {1042, L"Korean"},   {1025, L"Arabic"},
};
const size_t kKnownLanguageCount = sizeof kKnownLanguages / sizeof kKnownLanguages[0];

namespace {

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameName(std::wstring_view a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return i == a.size() && b[i] == L'\0';
}


}  // namespace

unsigned short LanguageFromSwitch(std::wstring_view value) {
  for (size_t i = 0; i < kKnownLanguageCount; ++i)
    if (SameName(value, kKnownLanguages[i].name)) return kKnownLanguages[i].id;
  return DecimalLanguageId(value);
}

unsigned short DecimalLanguageId(std::wstring_view text) {
  if (text.empty() || text.size() > 5 || text[0] == L'0') return 0;
  unsigned value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  return value <= 0xFFFF ? static_cast<unsigned short>(value) : 0;
}

}  // namespace kxlang
