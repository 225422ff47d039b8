// The setup program: the loader, which runs the install script through the
// program library (launcher/program_entry.h).
#include <windows.h>

#include "launcher/loader_main.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return LoaderMain(instance, ProgramKind::Setup); }
