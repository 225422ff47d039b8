#include "launcher/launcher_main.h"

#include <objbase.h>
#include <wchar.h>

#include "base/exit_codes.h"
#include "base/message_box.h"
#include "base/path_services.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "launcher/core_binding.h"
#include "launcher/install_scope.h"
#include "launcher/literal_text.h"
#include "launcher/loader_steps.h"
#include "launcher/package_data.h"
#include "launcher/run_language.h"
#include "launcher/runtime_folder.h"
#include "launcher/script_flags.h"
#include "launcher/script_guard.h"
#include "launcher/single_instance.h"

namespace {

static_assert(kTitleCapacity >= kPackageTextCapacity, "the package's title must fit the launcher's");

// The run log's file and the flags handed to the core library with it, and
// whether the command line was refused (launcher/program_entry.h).
const LoaderRun* g_run;

// The result when the program's work did not run: the failure recorded in
// the start-up state decides the exit code.
constexpr int kNoScriptResult = kExitSuccess;

// The launcher's variables and InitSFX; the first call binds the library.
// The paths are stored literally: a folder named "50% off" or "#Next" must
// not be read as a variable reference or a language key. Every path fits,
// being no longer than the folder buffer.
int PublishVariables(void* context) {
  StartupState* state = static_cast<StartupState*>(context);
  // Only when there is something to hand over, so that the library's first
  // operation stays the same otherwise.
  if (g_run->logPath[0] || g_run->runLogFlags) InitRunLog(g_run->logPath, g_run->runLogFlags);
  // The title is the package's own text, taken as written.
  SetVarLiteral(L"APPTITLE", g_launcher.title);
  SetVarLiteral(L"ARCNAME", g_launcher.modulePath);
  SetVarLiteral(L"KXSFXPATH", g_runtimePath);
  SetVarLiteral(L"CUR", state->folder);
  wcscpy(state->folder, g_launcher.modulePath);
  StripLastPathComponent(state->folder);
  SetVarLiteral(L"ARCPATH", state->folder);
  // A damaged package has no languages to give; the library then speaks
  // English.
  // The scope before the languages: the uninstaller reads the language of
  // the installation from its scope's hive.
  if (state->packageRead) PublishPackageScope(state->kind == ProgramKind::Uninstaller, g_launcher.modulePath);
  if (state->packageRead) PublishPackageLanguages(state->kind);
  // What the messages of both programs about the installed product name it by.
  if (state->packageRead) SetVarLiteral(L"KXPRODUCTNAME", g_package.productName);
  InitSFX(g_launcher.instance);
  if (state->packageRead) ApplyRunLanguage();
  // The package's folders are judged in the places of its scope.
  if (state->packageRead && !ApplyRunScope()) state->packageRead = false;
  return 0;
}

int CheckPackage(void* context) {
  const ProgramWork* work = static_cast<const ProgramWork*>(context);
  return work->checkPackage == nullptr || work->checkPackage();
}

int Prepare(void* context) {
  const ProgramWork* work = static_cast<const ProgramWork*>(context);
  return work->prepare == nullptr || work->prepare();
}

int Run(void* context) { return static_cast<const ProgramWork*>(context)->run(); }

// The program's work inside the script guard. A caught exception is shown
// and becomes the exit code, so a crashed run never reports success.
int RunScript(const ProgramWork& work) {
  int result = 0;
  DWORD code = 0;
  if (CallGuarded(Run, const_cast<ProgramWork*>(&work), &result, &code)) {
    wchar_t text[256];
    // wsprintfW: the CRT's formatter would add tens of kilobytes to the program.
    wsprintfW(text, L"Unexpected error in script: code %x.\n%ls", static_cast<unsigned>(code), work.abortLine);
    ShowMessageBox(nullptr, text, g_launcher.title, MB_TOPMOST | MB_ICONERROR);
    result = static_cast<int>(code);
  }
  return result;
}

// The start-up from the unpacked runtime to the program's work (steps 6 to
// 9 of docs/architecture.md); returns the script result. Failures are recorded
// in state for the shutdown.
int StartAndRun(const ProgramWork& work, StartupState* state) {
  SetCoreLibraryFolder(g_runtimePath);
  // The package's values, read before anything uses them; the package's
  // title is APPTITLE and every later caption.
  const bool packageRead = LoadPackageData(g_runtimePath) == kPackageDataOk;
  if (packageRead) wcscpy(g_launcher.title, g_package.windowTitle);
  state->packageRead = packageRead;

  CoInitialize(nullptr);
  int ignored = 0;
  DWORD code = 0;
  // No script guard encloses binding and InitSFX; a library that cannot be
  // bound here still ends in an orderly stop with the runtime folder removed.
  if (CallGuarded(PublishVariables, state, &ignored, &code)) {
    LogLine(L"Error: the core library could not be bound (exception %lx)", code);
    SetStartupFailure(state, kLauncherRuntimeNotWritten, kStringRuntimeNotWritten);
    ReleaseCoreLibrary();
    return kNoScriptResult;
  }

  // Without its own values the program cannot know what it installs or
  // removes: a damaged package. A runtime that lacks the library as well
  // reports that first, as it always has.
  int packageAllowed = 0;
  if (!state->packageRead || CallGuarded(CheckPackage, const_cast<ProgramWork*>(&work), &packageAllowed, &code) ||
      !packageAllowed) {
    if (!state->packageRead) LogLine(L"Error: the package data is missing or not allowed");
    SetStartupFailure(state, kLauncherCorruptedData, kStringCorruptedData);
    ReleaseCoreLibrary();
    return kNoScriptResult;
  }

  // The core library has shown the usage with what was wrong; nothing runs.
  if (g_run->commandLineRefused) {
    LogLine(L"The command line cannot be followed: nothing is done");
    ReleaseCoreLibrary();
    return kExitCancelled;
  }

  // One run of a package at a time, setup and uninstaller alike: before the
  // uninstaller's question or the setup's first page, so that nothing is
  // asked or changed. A silent run only says so in its exit code and log.
  if (!ClaimPackageInstance(g_package.uninstallKeyName)) {
    LogLine(L"Error: another setup or uninstaller of this package is running");
    if (!FlagIsSet(L"%SILENT%"))
      ShowMessageBox(nullptr, EvalVar(L"#anotherinstance"), g_launcher.title, MB_OK | MB_ICONERROR | MB_TOPMOST);
    ReleaseCoreLibrary();
    return kExitAnotherInstance;
  }

  int prepared = 0;
  if (CallGuarded(Prepare, const_cast<ProgramWork*>(&work), &prepared, &code)) {
    SetStartupFailure(state, kLauncherRuntimeNotWritten, kStringRuntimeNotWritten);
    ReleaseCoreLibrary();
    return kNoScriptResult;
  }
  int result = prepared ? RunScript(work) : kNoScriptResult;
  ReleaseCoreLibrary();
  ReleasePackageInstance();
  return result;
}

}  // namespace

int RunFromRuntime(const ProgramWork& work, const LoaderRun& run, StartupState* state) {
  g_run = &run;
  const int result = StartAndRun(work, state);
  state->msiExitCodes = g_package.msiExitCodes != 0;
  // Whatever became of the work, before the runtime folder goes.
  if (work.finish != nullptr) work.finish();
  return result;
}

namespace {

int RunDirectly(void* context, const LoaderRun& run, StartupState* state) {
  return RunFromRuntime(*static_cast<const ProgramWork*>(context), run, state);
}

}  // namespace

int LauncherMain(HINSTANCE instance, const ProgramWork& work) {
  LoaderRun run;
  run.kind = work.kind;
  return RunLauncher(instance, &run, RunDirectly, const_cast<ProgramWork*>(&work));
}
