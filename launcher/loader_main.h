// The main routine of setup.exe and Uninst.exe: the loader's steps, then the
// program library from the runtime folder (launcher/program_entry.h).
#ifndef KX_LAUNCHER_LOADER_MAIN_H
#define KX_LAUNCHER_LOADER_MAIN_H

#include <windows.h>

#include "launcher/launcher_main.h"

// Returns the exit code of the run. The program is the uninstaller when its
// string kStringProgramKind says "uninstall", else setup.
int LoaderMain(HINSTANCE instance);

#endif
