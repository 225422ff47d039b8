#include "launcher/loader_main.h"

#include <wchar.h>

#include "base/exit_codes.h"
#include "base/package_format.h"
#include "base/run_log.h"
#include "base/system_libraries.h"
#include "launcher/loader_steps.h"
#include "launcher/program_entry.h"

namespace {

constexpr DWORD kNoLibraryError = ERROR_MOD_NOT_FOUND;

// Loads the program library from the runtime folder by its full path, like
// the core library (never through the DLL search), runs its export and
// releases it, so that the runtime folder can be removed. A library that
// cannot be loaded, lacks its export or comes from another build leaves the
// runtime unusable: the same stop as a core library that cannot be bound.
int RunProgramLibrary(void*, const LoaderRun& run, StartupState* state) {
  wchar_t path[kRuntimePathCapacity + 16];
  DWORD error = kNoLibraryError;
  HMODULE library = nullptr;
  if (g_runtimePathLength + wcslen(kxformat::kProgramLibraryFileW) < kRuntimePathCapacity + 16) {
    wcscpy(path, g_runtimePath);
    wcscat(path, kxformat::kProgramLibraryFileW);
    library = LoadLibraryAtPath(path);
    if (library == nullptr) error = GetLastError();
  }
  RunProgramFunction entry =
      library ? reinterpret_cast<RunProgramFunction>(GetProcAddress(library, kRunProgramExport)) : nullptr;
  if (library != nullptr && entry == nullptr) error = ERROR_PROC_NOT_FOUND;
  int result = kExitSuccess;
  ProgramStart start = {sizeof(ProgramStart), 0, &run, &g_launcher, g_runtimePath, g_runtimePathLength, state};
  if (entry != nullptr) {
    result = entry(&start);
    if (!start.accepted) error = ERROR_REVISION_MISMATCH;
  }
  if (library != nullptr) FreeLibrary(library);
  if (start.accepted) return result;
  LogLine(L"Error %lu: the program library could not be loaded", error);
  SetStartupFailure(state, kLauncherRuntimeNotWritten, kStringRuntimeNotWritten);
  return kExitSuccess;
}

}  // namespace

int LoaderMain(HINSTANCE instance) {
  wchar_t kind[16] = L"";
  LoadStringW(instance, kStringProgramKind, kind, 16);
  // Static for the reason RunLauncher's start-up state is (loader_steps.cpp).
  static LoaderRun run;
  run.kind = wcscmp(kind, L"uninstall") == 0 ? ProgramKind::Uninstaller : ProgramKind::Setup;
  return RunLauncher(instance, &run, RunProgramLibrary, nullptr);
}
