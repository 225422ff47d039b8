// kxprogram64.dll: the part of setup.exe and Uninst.exe that runs once the
// runtime is unpacked (launcher/program_entry.h). It carries both programs'
// work; the uninstaller a setup carries gets its copy from the setup's own
// runtime (launcher/uninstaller_completion.h).
#include <windows.h>
#include <wchar.h>

#include "base/exit_codes.h"
#include "base/message_box.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "launcher/launcher_main.h"
#include "launcher/program_entry.h"
#include "launcher/runtime_folder.h"
#include "script/setup_work.h"
#include "uninstall/uninstall_work.h"

extern "C" __declspec(dllexport) int RunProgram(ProgramStart* start) {
  if (start == nullptr || start->size != sizeof(ProgramStart) || start->runtimePathLength >= kRuntimePathCapacity)
    return kExitSuccess;
  start->accepted = 1;
  // The loader's values become this module's: its launcher code reads them
  // from its own globals.
  g_launcher = *start->launcher;
  wmemcpy(g_runtimePath, start->runtimePath, start->runtimePathLength + 1);
  g_runtimePathLength = start->runtimePathLength;
  const LoaderRun& run = *start->run;
  if (run.runLogFlags & KX_RUNLOG_SUPPRESS_BOXES) SuppressMessageBoxes(true);
  // A handle of this module's own on the run log, as the core library has.
  if (run.logPath[0] && !(run.runLogFlags & KX_RUNLOG_REFUSED)) OpenRunLog(run.logPath);

  const int result =
      RunFromRuntime(run.kind == ProgramKind::Setup ? kSetupProgram : kUninstallerProgram, run, start->state);
  // The package's title in the run's language is every later caption, and
  // the loader's fatal message reads in that language's direction.
  wcscpy(start->launcher->title, g_launcher.title);
  start->launcher->rightToLeft = g_launcher.rightToLeft;
  CloseRunLog();
  return result;
}
