// The language a run speaks (docs/core-library.md, "The run's language").
//
// The programs name what the library cannot know before InitSFX:
//   KXLANGUAGES     the package's languages, "1031,1033" (decimal ids, the
//                   first the fallback); unset: English alone
//   KXLANGRECORDED  the uninstaller's: the language of the installation
//
// InitSFX chooses among KXLANGUAGES: /LANG=, else KXLANGRECORDED, else the
// user's Windows UI language (each matched as core/language_choice.h
// says), else the first. The chosen language's table becomes the active
// one, and these variables tell the programs what was chosen:
//   SELLANG    its table's name ("German"), which page file names carry
//   KXLANGID   its id, decimal ("1031")
//   KXLANGRTL  "1" for a language written from right to left, else "0"
#ifndef KX_CORE_RUN_LANGUAGE_H
#define KX_CORE_RUN_LANGUAGE_H

#include <stddef.h>

namespace kxcore {

// The most languages a package offers (the launcher's reader holds as many).
constexpr size_t kMaxRunLanguages = 32;

// Chooses and activates the run's language; requested is /LANG='s id, or 0.
void StartRunLanguage(unsigned short requested);

// Makes an offered language the run's: activates its table and sets the
// variables above. False, with the run's language as it was, when its
// table cannot be read.
bool SetRunLanguage(unsigned short id);

// The offered languages (KXLANGUAGES, or English alone) into ids; returns
// their count.
size_t OfferedLanguages(unsigned short (&ids)[kMaxRunLanguages]);

// The run's language, once chosen; 0 before.
unsigned short RunLanguage();

// Whether /LANG= named the language: the language box then asks nothing.
bool RunLanguageRequested();

// The language box: asks the user which offered language to use, the run's
// one preselected, and makes the choice the run's language. Returns
// KX_PAGE_NEXT when a language was chosen (at once, without a box, when
// there is nothing to ask: one language, /LANG=, a silent run),
// KX_PAGE_CANCEL when the user cancelled or after /?, KX_PAGE_ABORT when
// the box could not be shown.
int AskRunLanguage();

}  // namespace kxcore

#endif
