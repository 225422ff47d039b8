// The two halves of setup.exe and Uninst.exe. The program file is a small
// loader: it reads /LOG, finds its container, creates the runtime folder and
// unpacks the runtime archive into it (launcher/loader_steps.h). Everything
// after that (package data, the core library, the script or the uninstall
// flow) is the program library kxprogram64.dll, which travels compressed in
// the runtime archive beside the core library and is loaded from the runtime
// folder by its full path, like the core library. The loader calls its one
// export, then releases it, removes the runtime folder and ends the run.
//
// Loader and library come from one build: kxpack takes both from the same
// folder. A library whose record size differs is refused as a damaged
// runtime. Nothing but plain values crosses: the library is built without C++
// exceptions, and its script guard catches every structured exception of the
// work inside it.
#ifndef KX_LAUNCHER_PROGRAM_ENTRY_H
#define KX_LAUNCHER_PROGRAM_ENTRY_H

#include <windows.h>

#include "base/exit_codes.h"

#include "launcher/launcher_main.h"
#include "launcher/runtime_folder.h"

constexpr size_t kLogPathCapacity = 782;
constexpr size_t kFolderBufferCapacity = 784;

// What the loader found out before the runtime was there.
struct LoaderRun {
  ProgramKind kind = ProgramKind::Setup;
  // The run log's file (empty: none) and the flags the core library is
  // handed with it (KX_RUNLOG_* of core/kxcore.h).
  wchar_t logPath[kLogPathCapacity] = L"";
  int runLogFlags = 0;
  // An unknown switch or a refused /LOG: the program runs nothing (exit 2).
  bool commandLineRefused = false;
};

// The start-up state the loader hands over and gets back. Every default is
// zero, so that the loader's one (static) takes no bytes of the file.
struct StartupState {
  ProgramKind kind = ProgramKind::Setup;
  int errorCode = kLauncherOk;
  // The fatal message's second line; read only once errorCode is set, and
  // SetStartupFailure sets both.
  LauncherString fatalLine = kStringTitle;
  bool runtimeFolderCreated = false;
  bool packageRead = false;
  // The package asks for Windows Installer's exit codes (base/exit_codes.h).
  bool msiExitCodes = false;
  // The current directory the program was started in; after the start-up
  // the folder the setup returns to before it removes the runtime folder.
  wchar_t folder[kFolderBufferCapacity] = L"";
};

// Everything the library's export reads, filled by the loader.
struct ProgramStart {
  uint32_t size;      // sizeof(ProgramStart)
  uint32_t accepted;  // set to 1 by a library of the same build, which then runs
  const LoaderRun* run;
  // The loader's process-wide values; the library copies them. The title
  // comes back as the package's window title once the package data is read.
  LauncherState* launcher;
  const wchar_t* runtimePath;  // g_runtimePath of the loader
  size_t runtimePathLength;
  StartupState* state;  // in and out
};

// The program library's export; its file in the runtime folder is
// kxformat::kProgramLibraryFileW (base/package_format.h).
constexpr char kRunProgramExport[] = "RunProgram";

// The export: refuses a record of another size (accepted stays 0, nothing is
// done); otherwise sets accepted, runs steps 6 to 9 of docs/architecture.md
// for start->run's kind and returns the work's result (kExitSuccess when the work did not
// run: the state's error code then decides). The core library is released
// when it returns; the runtime folder is the loader's to remove.
typedef int (*RunProgramFunction)(ProgramStart* start);

#endif
