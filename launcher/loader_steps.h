// The steps both halves of a program share (launcher/program_entry.h): the
// run log of /LOG, the container, the runtime folder and its unpacking
// before the program's work; the runtime folder's removal, the fatal message
// and the exit code after it.
#ifndef KX_LAUNCHER_LOADER_STEPS_H
#define KX_LAUNCHER_LOADER_STEPS_H

#include <windows.h>

#include "launcher/program_entry.h"

// What runs once the runtime is unpacked: steps 6 to 9, directly or through
// the program library. Returns the work's result, or kExitSuccess when it
// did not run (the state's error code then decides the exit code).
typedef int (*RuntimeWork)(void* context, const LoaderRun& run, StartupState* state);

// A whole run of the program of run->kind: steps 1 to 5 and 10 of
// docs/architecture.md around work. Returns the exit code.
int RunLauncher(HINSTANCE instance, LoaderRun* run, RuntimeWork work, void* context);

// Records a start-up failure and the second line of its fatal message.
void SetStartupFailure(StartupState* state, int code, LauncherString line);

#endif
