#include "core/language_choice.h"

#include "base/language_names.h"

namespace kxcore {

namespace {

constexpr unsigned short kChinese = 0x04;

unsigned short Primary(unsigned short id) { return static_cast<unsigned short>(id & 0x3FF); }

// Simplified Chinese: China (2052) and Singapore (4100); the other Chinese
// ids are Traditional.
bool IsSimplifiedChinese(unsigned short id) { return id == 2052 || id == 4100; }

bool SameBase(unsigned short a, unsigned short b) {
  if (Primary(a) != Primary(b)) return false;
  return Primary(a) != kChinese || IsSimplifiedChinese(a) == IsSimplifiedChinese(b);
}

}  // namespace

unsigned short MatchOfferedLanguage(const unsigned short* offered, size_t count, unsigned short wanted) {
  if (wanted == 0) return 0;
  for (size_t i = 0; i < count; ++i)
    if (offered[i] == wanted) return wanted;
  for (size_t i = 0; i < count; ++i)
    if (SameBase(offered[i], wanted)) return offered[i];
  return 0;
}

unsigned short ChooseLanguage(const unsigned short* offered, size_t count, unsigned short requested,
                              unsigned short recorded, unsigned short user) {
  for (unsigned short wanted : {requested, recorded, user})
    if (unsigned short match = MatchOfferedLanguage(offered, count, wanted)) return match;
  return count > 0 ? offered[0] : kEnglishLanguage;
}

size_t ParseLanguageList(std::wstring_view text, unsigned short* offered, size_t capacity) {
  size_t count = 0;
  while (!text.empty() && count < capacity) {
    const size_t comma = text.find(L',');
    const unsigned short id = kxlang::DecimalLanguageId(text.substr(0, comma));
    if (id != 0) offered[count++] = id;
    if (comma == std::wstring_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return count;
}

bool IsRightToLeftLanguage(unsigned short id) {
  switch (Primary(id)) {
    case 0x01:  // Arabic
    case 0x0D:  // Hebrew
    case 0x20:  // Urdu
    case 0x29:  // Persian
    case 0x3D:  // Yiddish
    case 0x5A:  // Syriac
    case 0x63:  // Pashto
    case 0x65:  // Divehi
    case 0x80:  // Uyghur
    case 0x8C:  // Dari
      return true;
    default:
      return false;
  }
}

}  // namespace kxcore
