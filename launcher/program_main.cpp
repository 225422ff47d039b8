// The main routine of setup.exe and Uninst.exe: one loader, built twice with
// the resources of each program (launcher/program.rc.in), so that the
// uninstaller a setup carries can leave the loader's bytes out
// (base/loader_sections.h). The program's work runs in the program library
// (launcher/program_entry.h).
//
// The programs are linked without the C runtime's start-up
// (cmake/KxTargets.cmake, kx_program): LoaderEntry is their entry point. The
// loader reads no argv, no stdio and no thread-local data, and needs no
// pseudo-relocations, so of that start-up (about 10 KB stored in every
// package, with its error reporting and its imports) it keeps only the
// global constructors and the destructors they register; msvcrt.dll sets
// itself up when it is loaded.
#include <windows.h>

#include "launcher/loader_main.h"

namespace {

// The destructors of the loader's few global objects (handle guards).
constexpr int kAtExitCapacity = 16;
void (*g_atExit[kAtExitCapacity])(void);
int g_atExitCount;

}  // namespace

extern "C" {

// libgcc's constructor pass (MinGW's gccmain.o): runs the global
// constructors once; they register their destructors with atexit.
void __main(void);

// The start-up's own atexit, which this file replaces: the C library's,
// reached from here, would be an import by address that only the start-up's
// pseudo-relocation could fix. Runs in LoaderEntry, last registered first.
int atexit(void (*function)(void)) {
  if (g_atExitCount == kAtExitCapacity) return -1;
  g_atExit[g_atExitCount++] = function;
  return 0;
}

void LoaderEntry(void) {
  __main();
  const int code = LoaderMain(GetModuleHandleW(nullptr));
  while (g_atExitCount > 0) g_atExit[--g_atExitCount]();
  ExitProcess(static_cast<UINT>(code));
}

}  // extern "C"
