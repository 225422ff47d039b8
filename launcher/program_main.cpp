// The main routine of setup.exe and Uninst.exe: one loader, built twice with
// the resources of each program (launcher/program.rc.in), so that the
// uninstaller a setup carries can leave the loader's bytes out
// (base/loader_sections.h). The program's work runs in the program library
// (launcher/program_entry.h).
#include <windows.h>

#include "launcher/loader_main.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return LoaderMain(instance); }
