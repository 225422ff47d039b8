// The languages kxpack ships, by the name line of their tables, and what a
// /LANG= value names: portable, so that the command line's parser (the
// launcher's and the core library's) judges the value itself.
#ifndef KX_BASE_LANGUAGE_NAMES_H
#define KX_BASE_LANGUAGE_NAMES_H

#include <stddef.h>

#include <string_view>

namespace kxlang {

struct KnownLanguage {
  unsigned short id;     // the Windows language id
  const wchar_t* name;   // the table's name line, "German"
};
extern const KnownLanguage kKnownLanguages[];
extern const size_t kKnownLanguageCount;

// A /LANG= value: a known language's name (without regard to case) or a
// decimal id from 1 to 65535 without sign or leading zero. 0 when it is
// neither.
unsigned short LanguageFromSwitch(std::wstring_view value);

// A decimal language id from 1 to 65535 without sign or leading zero; 0
// otherwise.
unsigned short DecimalLanguageId(std::wstring_view text);

}  // namespace kxlang

#endif
