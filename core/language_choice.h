// Which language a run speaks, among those its package offers. Plain code
// over Windows language ids (LANGIDs), no Windows header.
//
// A wanted language matches an offered one of the same id, else one of the
// same base language (PRIMARYLANGID: German of Austria, 3079, matches
// German, 1031), except that Chinese matches only in the same script:
// Traditional (Taiwan, Hong Kong, Macao) never gets Simplified (China,
// Singapore), nor the other way round. Among several of the same base, the
// first offered wins.
#ifndef KX_CORE_LANGUAGE_CHOICE_H
#define KX_CORE_LANGUAGE_CHOICE_H

#include <stddef.h>

#include <string_view>

#include "base/language_names.h"

namespace kxcore {

constexpr unsigned short kEnglishLanguage = 1033;

// The languages kxpack ships and what /LANG= names (base/language_names.h).
using kxlang::KnownLanguage;
using kxlang::kKnownLanguageCount;
using kxlang::kKnownLanguages;
using kxlang::LanguageFromSwitch;

// The offered language that wanted matches, or 0.
unsigned short MatchOfferedLanguage(const unsigned short* offered, size_t count, unsigned short wanted);

// The run's language: the first of requested (/LANG=), recorded (the
// uninstaller's, from the installation) and user (the Windows UI language)
// that matches an offered one; 0 in any of them means none. Else the first
// offered, and English for an empty offer.
unsigned short ChooseLanguage(const unsigned short* offered, size_t count, unsigned short requested,
                              unsigned short recorded, unsigned short user);

// Reads "1031,1033" (decimal ids separated by commas) into offered, at most
// capacity of them; anything that is no id is skipped. Returns the count.
size_t ParseLanguageList(std::wstring_view text, unsigned short* offered, size_t capacity);

// Whether the language is written from right to left (Arabic, Hebrew,
// Persian, Urdu and the others of that kind).
bool IsRightToLeftLanguage(unsigned short id);

}  // namespace kxcore

#endif
