#include "launcher/loader_steps.h"

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
#include "launcher/run_log_file.h"
#include "launcher/runtime_lock.h"

namespace {

constexpr size_t kStringCapacity = 260;
constexpr DWORD kRemoveRetryMs = 100;
constexpr DWORD kRemoveRetryLimitMs = 3000;

// RunLauncher's result when the program's work did not run: the failure
// recorded in the start-up state decides the exit code.
constexpr int kNoScriptResult = kExitSuccess;

void ShowFatalMessage(LauncherString secondLine) {
  wchar_t text[2 * kStringCapacity + 2];
  wchar_t line[kStringCapacity];
  LoadStringW(g_launcher.instance, kStringFatalError, text, kStringCapacity);
  wcscat(text, L"\r\n");
  LoadStringW(g_launcher.instance, secondLine, line, kStringCapacity);
  wcscat(text, line);
  ShowMessageBox(nullptr, text, g_launcher.title, MB_TOPMOST | MB_ICONERROR);
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
  SetStartupFailure(state, code, code == kLauncherCorruptedData ? kStringCorruptedData : kStringRuntimeNotWritten);
}

// /LOG and /SUPPRESSMSGBOXES act from the first step on, before the core
// library (which reads the rest of the command line) is there.
void StartRunLog(LoaderRun* run) {
  const ProgramKind kind = run->kind;
  const wchar_t* commandLine = GetCommandLineW();
  CommandSwitches switches;
  ParseCommandSwitches(commandLine, &switches);
  run->commandLineRefused = switches.unknownArgument.text != nullptr;
  if (switches.silent && switches.suppressMessageBoxes) {
    SuppressMessageBoxes(true);
    run->runLogFlags |= KX_RUNLOG_SUPPRESS_BOXES;
  }
  if (!switches.log) return;
  bool opened = false;
  if (switches.logFile.length == 0) {
    wchar_t temp[kModulePathCapacity + 1];
    DWORD length = GetTempPathW(kModulePathCapacity, temp);
    opened = length > 0 && length <= kModulePathCapacity &&
             OpenNewRunLog(temp, g_launcher.title, kind == ProgramKind::Setup ? L"setup" : L"uninstall", run->logPath,
                           kLogPathCapacity);
  } else if (switches.logFile.length < kLogPathCapacity) {
    // Relative to the folder the program was started in: the current
    // directory moves into the runtime folder soon.
    wchar_t given[kLogPathCapacity];
    wmemcpy(given, switches.logFile.text, switches.logFile.length);
    given[switches.logFile.length] = L'\0';
    DWORD length = GetFullPathNameW(given, kLogPathCapacity, run->logPath, nullptr);
    if (length > 0 && length < kLogPathCapacity &&
        JudgeRunLogFile(run->logPath, g_launcher.modulePath, kind == ProgramKind::Uninstaller) !=
            RunLogFileVerdict::kAllowed) {
      // Never opened: the core library names the file with the usage.
      run->runLogFlags |= KX_RUNLOG_REFUSED;
      run->commandLineRefused = true;
      return;
    }
    opened = length > 0 && length < kLogPathCapacity && OpenRunLog(run->logPath);
  }
  if (!opened) {
    run->logPath[0] = L'\0';
    return;
  }
  LogLine(L"%ls started: %ls", kind == ProgramKind::Setup ? L"Setup" : L"Uninstaller", g_launcher.modulePath);
  LogLine(L"Command line: %ls", commandLine);
}

// Steps 4 and 5 of docs/architecture.md: the runtime folder and the runtime
// archive unpacked into it. False with the failure recorded in state.
bool PrepareRuntime(StartupState* state) {
  if (!CreateRuntimeFolder()) {
    LogLine(L"Error %lu: no runtime folder could be created", GetLastError());
    SetStartupFailure(state, kLauncherNoTempFolder, kStringNoTempFolder);
    return false;
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

  RuntimeUnpackResult unpacked = UnpackRuntimeArchive(g_launcher.modulePath, g_launcher.container);
  if (unpacked != RuntimeUnpackResult::kUnpacked) {
    SetUnpackFailure(state, unpacked);
    return false;
  }
  return true;
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
  // In the direction of the run's language, which the program library chose.
  SetMessageBoxRightToLeft(g_launcher.rightToLeft);
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

int RunProgram(const LoaderRun& run, StartupState* state, RuntimeWork work, void* context) {
  state->kind = run.kind;
  if (!g_launcher.modulePath[0]) {
    SetStartupFailure(state, kLauncherNoTempFolder, kStringNoTempFolder);
  } else {
    DWORD length = GetTempPathW(kModulePathCapacity, g_runtimePath);
    if (length == 0 || length > kModulePathCapacity)
      SetStartupFailure(state, kLauncherNoTempFolder, kStringNoTempFolder);
    else
      g_runtimePathLength = length;
  }

  int scriptResult = kNoScriptResult;
  if (state->errorCode == kLauncherOk) {
    bool accepted = LocateContainer(g_launcher.modulePath, &g_launcher.container) &&
                    g_launcher.container.offset != 0 && g_launcher.container.fileSizeField != 0 &&
                    (run.kind == ProgramKind::Uninstaller || g_launcher.container.payloadLength != 0);
    if (!accepted) {
      LogLine(L"Error: the package container of %ls is damaged", g_launcher.modulePath);
      // Nothing has been created yet, so no other shutdown step runs.
      ShowFatalMessage(kStringCorruptedData);
      return -kLauncherCorruptedData;
    }
    if (PrepareRuntime(state)) scriptResult = work(context, run, state);
  }

  return run.kind == ProgramKind::Uninstaller ? UninstallerShutdown(scriptResult, state)
                                              : SetupShutdown(scriptResult, state);
}

}  // namespace

void SetStartupFailure(StartupState* state, int code, LauncherString line) {
  state->errorCode = code;
  state->fatalLine = line;
}

int RunLauncher(HINSTANCE instance, LoaderRun* run, RuntimeWork work, void* context) {
  // Before anything can load a DLL: from here on no DLL comes from the
  // program's folder or the current directory.
  RestrictDllSearchToSystemFolder();
  g_launcher.instance = instance;
  InitCommonControls();
  LoadStringW(instance, kStringTitle, g_launcher.title, kTitleCapacity);
  DWORD length = GetModuleFileNameW(nullptr, g_launcher.modulePath, kModulePathCapacity);
  if (length == 0 || length >= kModulePathCapacity) g_launcher.modulePath[0] = L'\0';
  StartRunLog(run);

  // Static, not on the stack: a local this large with default member
  // initialisers is copied from a template of its whole size, which the
  // loader would store in the file (it is stored as it is in every package).
  static StartupState state;
  const int ownCode = RunProgram(*run, &state, work, context);
  const int exitCode = DeploymentExitCode(ownCode, state.msiExitCodes);
  if (exitCode != ownCode) LogLine(L"Exit code %d stands for %d, as the package asks", exitCode, ownCode);
  LogLine(L"Exit code %d", exitCode);
  CloseRunLog();
  return exitCode;
}
