// The launcher's side of the run's language (docs/core-library.md, "The
// run's language"): what it hands the core library before InitSFX, and the
// package's texts in the language the library chose.
#ifndef KX_LAUNCHER_RUN_LANGUAGE_H
#define KX_LAUNCHER_RUN_LANGUAGE_H

#include "launcher/launcher_main.h"

// Before InitSFX: the package's languages as KXLANGUAGES and, in the
// uninstaller, the language its installation was made in (the uninstall
// entry's Language value) as KXLANGRECORDED.
void PublishPackageLanguages(ProgramKind kind);

// After InitSFX and after the language box: the package's title in the
// run's language becomes every caption (g_launcher.title) and APPTITLE, and
// message boxes read right to left when the language does.
void ApplyRunLanguage();

// The run's language id (KXLANGID); English before InitSFX.
unsigned RunLanguageId();

#endif
