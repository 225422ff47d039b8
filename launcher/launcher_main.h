// The program's side of both programs' start-up (launcher/program_entry.h):
// package data, core library binding, the program's own work inside the
// script guard and the library's release; and LauncherMain, the whole run in
// one program file (the loader's steps and these), for test programs.
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
  kStringCorruptedData = 4,
  kStringProgramKind = 5  // "uninstall" in Uninst.exe, "setup" in setup.exe
};

// Process-wide values the launcher fills at start-up and others read.
struct LauncherState {
  HINSTANCE instance;
  wchar_t title[kTitleCapacity];        // string 0; caption of every message box
  wchar_t modulePath[kModulePathCapacity];
  ContainerInfo container;
  bool rightToLeft;  // the run's language reads right to left: so do message boxes
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
  // Runs after the work and the core library's release, whatever became of
  // them (a crash in the script included), before the runtime folder is
  // removed. May be null.
  void (*finish)(void);
};

struct LoaderRun;
struct StartupState;

// Steps 6 to 9 of docs/architecture.md once the runtime is unpacked; the
// program library's export runs it. Returns the work's result, or
// kExitSuccess when the work did not run (state's error code then decides).
int RunFromRuntime(const ProgramWork& work, const LoaderRun& run, StartupState* state);

// A whole run in one program file: the loader's steps and RunFromRuntime.
int LauncherMain(HINSTANCE instance, const ProgramWork& work);

#endif
