// The main routine of both programs: container check, runtime folder, core
// library binding, the program's own work inside the script guard, release,
// clean-up and the exit code.
#ifndef KX_LAUNCHER_LAUNCHER_MAIN_H
#define KX_LAUNCHER_LAUNCHER_MAIN_H

#include <windows.h>

#include "launcher/container.h"

constexpr size_t kTitleCapacity = 260;
constexpr size_t kModulePathCapacity = 260;

// String table ids of both programs (language 1033).
enum LauncherString {
  kStringTitle = 0,
  kStringFatalError = 1,
  kStringNoTempFolder = 2,
  kStringRuntimeNotWritten = 3,
  kStringCorruptedData = 4
};

// Process-wide values the launcher fills at start-up and others read.
struct LauncherState {
  HINSTANCE instance;
  wchar_t title[kTitleCapacity];        // string 0; caption of every message box
  wchar_t modulePath[kModulePathCapacity];
  ContainerInfo container;
};
extern LauncherState g_launcher;

enum class ProgramKind { Setup, Uninstaller };

// What distinguishes the two programs.
struct ProgramWork {
  ProgramKind kind;
  // Judges what the program's package names beyond kxpack's text rules,
  // once the core library is bound, before the single-instance claim;
  // false ends the run as a damaged package (exit -3). May be null (the
  // uninstaller).
  bool (*checkPackage)(void);
  // Runs outside the script guard before the work; returns false to skip it.
  // May be null (the setup program).
  bool (*prepare)(void);
  // The program's work, called once inside the script guard; its result
  // becomes the exit code.
  int (*run)(void);
  // Second line of the script guard's message.
  const wchar_t* abortLine;
};

int LauncherMain(HINSTANCE instance, const ProgramWork& work);

#endif
