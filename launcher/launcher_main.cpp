#include "launcher/launcher_main.h"

#include <commctrl.h>
#include <objbase.h>
#include <wchar.h>

#include "base/command_switches.h"
#include "base/exit_codes.h"
#include "base/message_box.h"
#include "base/path_services.h"
#include "base/run_log.h"
#include "base/system_libraries.h"
#include "core/kxcore.h"
#include "launcher/archive_reader.h"
#include "launcher/core_binding.h"
#include "launcher/install_scope.h"
#include "launcher/literal_text.h"
#include "launcher/package_data.h"
#include "launcher/run_language.h"
#include "launcher/run_log_file.h"
#include "launcher/runtime_folder.h"
#include "launcher/runtime_lock.h"
#include "launcher/script_flags.h"
#include "launcher/script_guard.h"
#include "launcher/single_instance.h"

namespace {

constexpr size_t kStringCapacity = 260;
constexpr size_t kFolderBufferCapacity = 784;
constexpr DWORD kRemoveRetryMs = 100;
constexpr DWORD kRemoveRetryLimitMs = 3000;
static_assert(kTitleCapacity >= kPackageTextCapacity, "the package's title must fit the launcher's");

// The run log's file and the flags handed to the core library with it.
constexpr size_t kLogPathCapacity = 782;
wchar_t g_logPath[kLogPathCapacity];
int g_runLogFlags;
// An unknown switch or a refused /LOG: the program runs nothing (exit 2).
bool g_commandLineRefused;

// StartAndRun's result when the program's work did not run: the failure
// recorded in the start-up state decides the exit code.
constexpr int kNoScriptResult = kExitSuccess;

struct StartupState {
  ProgramKind kind = ProgramKind::Setup;
  int errorCode = kLauncherOk;
  LauncherString fatalLine = kStringNoTempFolder;
  bool runtimeFolderCreated = false;
  bool packageRead = false;
  wchar_t folder[kFolderBufferCapacity] = L"";
};

void ShowFatalMessage(LauncherString secondLine) {
  wchar_t text[2 * kStringCapacity + 2];
  wchar_t line[kStringCapacity];
  LoadStringW(g_launcher.instance, kStringFatalError, text, kStringCapacity);
  wcscat(text, L"\r\n");
  LoadStringW(g_launcher.instance, secondLine, line, kStringCapacity);
  wcscat(text, line);
  ShowMessageBox(nullptr, text, g_launcher.title, MB_TOPMOST | MB_ICONERROR);
}

void SetFailure(StartupState* state, int code, LauncherString line) {
  state->errorCode = code;
  state->fatalLine = line;
}

// A failed runtime unpacking as the launcher reports it. Only the launcher's
// own codes reach the exit code: the SDK's and Windows' numbers overlap them
// (the SDK's data error is 1, "no temporary folder"), so they go into the run
// log only. A damaged package calls for a new copy; memory or disk trouble
// does not.
void SetUnpackFailure(StartupState* state, RuntimeUnpackResult result) {
  const wchar_t* reason = L"a file could not be written";
  LauncherError code = kLauncherRuntimeNotWritten;
  switch (result) {
    case RuntimeUnpackResult::kUnpacked:
      return;
    case RuntimeUnpackResult::kNotWritten:
      break;
    case RuntimeUnpackResult::kOutOfMemory:
      reason = L"out of memory";
      break;
    case RuntimeUnpackResult::kArchiveUnreadable:
      reason = L"the runtime archive is missing or unreadable";
      code = kLauncherCorruptedData;
      break;
    case RuntimeUnpackResult::kUnsafeName:
      reason = L"an entry name is unsafe";
      code = kLauncherCorruptedData;
      break;
    case RuntimeUnpackResult::kDamaged:
      reason = L"the runtime archive is damaged";
      code = kLauncherCorruptedData;
      break;
  }
  LogLine(L"Error: the runtime could not be unpacked (%ls)", reason);
  SetFailure(state, code, code == kLauncherCorruptedData ? kStringCorruptedData : kStringRuntimeNotWritten);
}

// /LOG and /SUPPRESSMSGBOXES act from the first step on, before the core
// library (which reads the rest of the command line) is there.
void StartRunLog(ProgramKind kind) {
  const wchar_t* commandLine = GetCommandLineW();
  CommandSwitches switches;
  ParseCommandSwitches(commandLine, &switches);
  g_commandLineRefused = switches.unknownArgument.text != nullptr;
  if (switches.silent && switches.suppressMessageBoxes) {
    SuppressMessageBoxes(true);
    g_runLogFlags |= KX_RUNLOG_SUPPRESS_BOXES;
  }
  if (!switches.log) return;
  bool opened = false;
  if (switches.logFile.length == 0) {
    wchar_t temp[kModulePathCapacity + 1];
    DWORD length = GetTempPathW(kModulePathCapacity, temp);
    opened = length > 0 && length <= kModulePathCapacity &&
             OpenNewRunLog(temp, g_launcher.title, kind == ProgramKind::Setup ? L"setup" : L"uninstall", g_logPath,
                           kLogPathCapacity);
  } else if (switches.logFile.length < kLogPathCapacity) {
    // Relative to the folder the program was started in: the current
    // directory moves into the runtime folder soon.
    wchar_t given[kLogPathCapacity];
    wmemcpy(given, switches.logFile.text, switches.logFile.length);
    given[switches.logFile.length] = L'\0';
    DWORD length = GetFullPathNameW(given, kLogPathCapacity, g_logPath, nullptr);
    if (length > 0 && length < kLogPathCapacity &&
        JudgeRunLogFile(g_logPath, g_launcher.modulePath, kind == ProgramKind::Uninstaller) !=
            RunLogFileVerdict::kAllowed) {
      // Never opened: the core library names the file with the usage.
      g_runLogFlags |= KX_RUNLOG_REFUSED;
      g_commandLineRefused = true;
      return;
    }
    opened = length > 0 && length < kLogPathCapacity && OpenRunLog(g_logPath);
  }
  if (!opened) {
    g_logPath[0] = L'\0';
    return;
  }
  LogLine(L"%ls started: %ls", kind == ProgramKind::Setup ? L"Setup" : L"Uninstaller", g_launcher.modulePath);
  LogLine(L"Command line: %ls", commandLine);
}

// The launcher's variables and InitSFX; the first call binds the library.
// The paths are stored literally: a folder named "50% off" or "#Next" must
// not be read as a variable reference or a language key. Every path fits,
// being no longer than the folder buffer.
int PublishVariables(void* context) {
  StartupState* state = static_cast<StartupState*>(context);
  // Only when there is something to hand over, so that the library's first
  // operation stays the same otherwise.
  if (g_logPath[0] || g_runLogFlags) InitRunLog(g_logPath, g_runLogFlags);
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

// The start-up from the runtime folder to the program's work (steps 4 to 9
// of docs/architecture.md); returns the script result. Failures are recorded
// in state for the shutdown.
int StartAndRun(const ProgramWork& work, StartupState* state) {
  if (!CreateRuntimeFolder()) {
    LogLine(L"Error %lu: no runtime folder could be created", GetLastError());
    SetFailure(state, kLauncherNoTempFolder, kStringNoTempFolder);
    return kNoScriptResult;
  }
  state->runtimeFolderCreated = true;
  HoldRuntimeLock();
  LogLine(L"Runtime folder: %ls", g_runtimePath);
  GetCurrentDirectoryW(kFolderBufferCapacity, state->folder);
  // Whatever the run starts (the shell's helper saving a shortcut, a browser
  // opened from a link, the installed program) inherits the current
  // directory and may outlive the run; the runtime folder could then not be
  // removed. So the run works in the temporary-files folder that holds it.
  wchar_t temporaryFolder[kRuntimePathCapacity];
  const size_t temporaryLength = g_runtimePathLength - kRuntimeFolderNameLength - 1;
  wmemcpy(temporaryFolder, g_runtimePath, temporaryLength);
  temporaryFolder[temporaryLength] = L'\0';
  SetCurrentDirectoryW(temporaryFolder);
  // What killed runs left behind goes now; a live run's folder stays.
  RemoveStaleRuntimeFolders(temporaryFolder);
  AddDllSearchFolder(g_runtimePath);
  SetCoreLibraryFolder(g_runtimePath);

  RuntimeUnpackResult unpacked = UnpackRuntimeArchive(g_launcher.modulePath, g_launcher.container);
  if (unpacked != RuntimeUnpackResult::kUnpacked) {
    SetUnpackFailure(state, unpacked);
    return kNoScriptResult;
  }
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
    SetFailure(state, kLauncherRuntimeNotWritten, kStringRuntimeNotWritten);
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
    SetFailure(state, kLauncherCorruptedData, kStringCorruptedData);
    ReleaseCoreLibrary();
    return kNoScriptResult;
  }

  // The core library has shown the usage with what was wrong; nothing runs.
  if (g_commandLineRefused) {
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
    SetFailure(state, kLauncherRuntimeNotWritten, kStringRuntimeNotWritten);
    ReleaseCoreLibrary();
    return kNoScriptResult;
  }
  int result = prepared ? RunScript(work) : kNoScriptResult;
  ReleaseCoreLibrary();
  ReleasePackageInstance();
  return result;
}

// Removes the runtime folder. Something outside our control may hold it for a
// moment after the run (a virus scanner reading the library), so a failed
// removal is tried again for a short while. One still held after that is
// left, with its lock released, for the next run to remove.
void RemoveRuntimeFolder() {
  for (DWORD waited = 0;; waited += kRemoveRetryMs) {
    if (RemoveLockedRuntimeFolder() == 0) return;
    if (waited >= kRemoveRetryLimitMs) {
      ReleaseRuntimeLock();
      return;
    }
    Sleep(kRemoveRetryMs);
  }
}

int ExitCode(int scriptResult, const StartupState& state) {
  if (scriptResult != kNoScriptResult) return scriptResult;
  if (state.errorCode == kLauncherOk) return kExitSuccess;
  ShowFatalMessage(state.fatalLine);
  return -state.errorCode;
}

int SetupShutdown(int scriptResult, StartupState* state) {
  CoUninitialize();
  if (state->folder[0]) SetCurrentDirectoryW(state->folder);
  if (state->runtimeFolderCreated) RemoveRuntimeFolder();
  return ExitCode(scriptResult, *state);
}

// The uninstaller leaves the runtime folder for the temporary-files folder,
// not for its own folder: that one is about to be removed.
int UninstallerShutdown(int scriptResult, StartupState* state) {
  wchar_t temp[kModulePathCapacity + 1];
  DWORD length = GetTempPathW(kModulePathCapacity, temp);
  if (length == 0 || length > kModulePathCapacity) return -kLauncherNoTempFolder;
  SetCurrentDirectoryW(temp);
  if (state->runtimeFolderCreated) RemoveRuntimeFolder();
  CoUninitialize();
  return ExitCode(scriptResult, *state);
}

int RunProgram(const ProgramWork& work) {
  StartupState state;
  state.kind = work.kind;
  if (!g_launcher.modulePath[0]) {
    SetFailure(&state, kLauncherNoTempFolder, kStringNoTempFolder);
  } else {
    DWORD length = GetTempPathW(kModulePathCapacity, g_runtimePath);
    if (length == 0 || length > kModulePathCapacity)
      SetFailure(&state, kLauncherNoTempFolder, kStringNoTempFolder);
    else
      g_runtimePathLength = length;
  }

  int scriptResult = kNoScriptResult;
  if (state.errorCode == kLauncherOk) {
    bool accepted = LocateContainer(g_launcher.modulePath, &g_launcher.container) &&
                    g_launcher.container.offset != 0 && g_launcher.container.fileSizeField != 0 &&
                    (work.kind == ProgramKind::Uninstaller || g_launcher.container.payloadLength != 0);
    if (!accepted) {
      LogLine(L"Error: the package container of %ls is damaged", g_launcher.modulePath);
      // Nothing has been created yet, so no other shutdown step runs.
      ShowFatalMessage(kStringCorruptedData);
      return -kLauncherCorruptedData;
    }
    scriptResult = StartAndRun(work, &state);
  }

  return work.kind == ProgramKind::Uninstaller ? UninstallerShutdown(scriptResult, &state)
                                               : SetupShutdown(scriptResult, &state);
}

}  // namespace

int LauncherMain(HINSTANCE instance, const ProgramWork& work) {
  // Before anything can load a DLL: from here on no DLL comes from the
  // program's folder or the current directory.
  RestrictDllSearchToSystemFolder();
  g_launcher.instance = instance;
  InitCommonControls();
  LoadStringW(instance, kStringTitle, g_launcher.title, kTitleCapacity);
  DWORD length = GetModuleFileNameW(nullptr, g_launcher.modulePath, kModulePathCapacity);
  if (length == 0 || length >= kModulePathCapacity) g_launcher.modulePath[0] = L'\0';
  StartRunLog(work.kind);

  const int ownCode = RunProgram(work);
  const int exitCode = DeploymentExitCode(ownCode, g_package.msiExitCodes != 0);
  if (exitCode != ownCode) LogLine(L"Exit code %d stands for %d, as the package asks", exitCode, ownCode);
  LogLine(L"Exit code %d", exitCode);
  CloseRunLog();
  return exitCode;
}
