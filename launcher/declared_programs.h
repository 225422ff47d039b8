// The programs a package declares to run ([[run]]): after the files are in
// place (setup), or before the uninstaller removes anything. Each is a
// program of the payload started directly with CreateProcessW, its
// arguments as kxpack quoted them: no shell and no script evaluation sees
// them, only {install_folder} is put in.
#ifndef KX_LAUNCHER_DECLARED_PROGRAMS_H
#define KX_LAUNCHER_DECLARED_PROGRAMS_H

#include <windows.h>
#include <stddef.h>

#include "launcher/package_declarations.h"

enum class RunMoment { kAfterInstall, kBeforeUninstall };

enum class RunOutcome {
  kDone,         // every program started; the waited ones ended with 0
  kNotStarted,   // a program could not be started (code: the Windows error)
  kFailed        // a waited program ended with another exit code (code)
};

struct RunResult {
  RunOutcome outcome;
  DWORD code;
  wchar_t program[MAX_PATH * 2];  // the program that failed
};

// Runs the moment's programs whose task was chosen, in their order, with
// folder (the installation folder) as their working folder's root: each
// program runs in its own folder. show(text) is called before each with
// the author's text, or the program's path when there is none. Stops at
// the first failure; a program not waited for fails only when it cannot be
// started.
RunResult RunDeclaredPrograms(const PackageDeclarations& declarations, RunMoment moment, const wchar_t* folder,
                              void (*show)(const wchar_t* text));

#endif
