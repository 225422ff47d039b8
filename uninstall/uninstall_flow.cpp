#include "uninstall/uninstall_flow.h"

#include <commctrl.h>
#include <wchar.h>

#include "base/exit_codes.h"
#include "base/message_box.h"
#include "base/path_services.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "launcher/install_scope.h"
#include "launcher/launcher_main.h"
#include "launcher/literal_text.h"
#include "launcher/package_data.h"
#include "launcher/script_flags.h"
#include "services/programs_in_use.h"
#include "uninstall/declared_uninstall.h"

namespace {

constexpr int kMessageBytes = 16384;

// Set by the progress box handler on the box's thread before ShowProgressBox
// returns; read on the main thread afterwards.
HWND g_progressBox;
HWND g_progressBar;
HWND g_progressText;

// The removal steps in the order they run: a folder goes once its files
// have, a key once its values have, and the log only when all went well.
// The declarations' PATH entries, variables and associations go before the
// registry values.
constexpr int kSteps[] = {KX_STEP_FILES,     KX_STEP_FOLDERS, KX_STEP_DECLARED,
                          KX_STEP_REGVALUES, KX_STEP_REGKEYS, KX_STEP_LOG};

int ShowEvaluated(const wchar_t* text, UINT style) {
  static wchar_t message[kMessageBytes / sizeof(wchar_t)];
  EvalVarBuf(text, message, kMessageBytes);
  return ShowMessageBox(nullptr, message, g_launcher.title, style);
}

// A box left open would keep running code of the core library after the
// launcher releases it, so it is closed on every way out.
int CloseProgressBox(int result) {
  if (g_progressBox) SendMessageW(g_progressBox, KX_WM_CLOSEPROGRESS, 0, 0);
  g_progressBox = nullptr;
  g_progressBar = nullptr;
  return result;
}

// A setup killed while it reinstalled into this folder left its journal
// there: its changes are undone first, so that the uninstall log describes
// what stands and nothing that run created or kept aside stays behind.
void FinishInterruptedSetup() {
  wchar_t folder[kModulePathCapacity];
  wcscpy(folder, g_launcher.modulePath);
  StripLastPathComponent(folder);
  if (folder[0]) FinishInterruptedInstall(folder);
}

void ShowProgressText(const wchar_t* text) {
  if (g_progressText) SetWindowTextW(g_progressText, text);
}

}  // namespace

bool PrepareUninstall() {
  // The core library removes registry entries only below the package's own
  // uninstall key, in the hive of the installation's scope (KXUNINSTREGROOT,
  // launcher/install_scope.h); a log naming any other key is refused as
  // damaged.
  SetVarLiteral(L"KXUNINSTREGKEY", g_package.uninstallRegistryKey);
  // Beyond it, only what the package's own declarations could have made.
  AllowDeclaredRecords();
  FinishInterruptedSetup();
  // The running program is scheduled for deletion at restart by the last
  // removal step, once everything else has gone: a declined or failed
  // uninstall must leave a working uninstaller behind.
  if (InitUninstall() == 1) return true;
  LogLine(L"Nothing to uninstall");
  return false;
}

int UninstallProgressHandler(UINT event, HWND box, WPARAM, LPARAM) {
  if (event == KX_EVENT_CREATED) {
    g_progressBox = box;
    g_progressBar = KXDlgGetDlgItem(box, kUninstallBarItem);
    g_progressText = KXDlgGetDlgItem(box, kUninstallTextItem);
    ShowWindow(KXDlgGetDlgItem(box, kUninstallCancelItem), SW_HIDE);
  }
  return KX_PAGE_STAY;
}

int UninstallStepCallback(int, int, const wchar_t*) { return 0; }

void SetUninstallProgress(int position) {
  if (g_progressBar) SendMessageW(g_progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int RunUninstall() {
  g_progressBox = nullptr;
  g_progressBar = nullptr;
  SetVar(L"EXITCODE", L"0");

  // What a current-user installation made is the user's own to remove.
  if (RunScope() == InstallScope::kAllUsers && !FlagIsSet(L"%ISADMIN%")) {
    ShowMessageBox(nullptr, EvalVar(L"#UninstallAdminReq"), g_launcher.title, MB_OK | MB_ICONERROR);
    return kExitAborted;
  }
  // Only a Yes is consent: a box that could not be shown (no display)
  // answers 0.
  if (!FlagIsSet(L"%SILENT%") && ShowEvaluated(L"#UninstallPrompt", MB_YESNO | MB_ICONQUESTION) != IDYES)
    return kExitCancelled;
  // Before anything is removed: programs that hold files of the
  // installation are closed, or what they hold is removed at the next
  // restart (services/programs_in_use.h). Started again they would only
  // hold files that are going, so /RESTARTAPPLICATIONS has nothing to do.
  static RunningPrograms programs;
  wchar_t folder[kModulePathCapacity];
  wcscpy(folder, g_launcher.modulePath);
  StripLastPathComponent(folder);
  if (folder[0] && DealWithProgramsInUse(folder, &programs) == ProgramsInUse::kCancelled) return kExitCancelled;
  if (!FlagIsSet(L"%SILENT%")) ShowProgressBox(UninstallProgressHandler);
  // The package's own programs run before anything is removed; one that
  // fails stops the uninstall with everything in place.
  if (int failed = RunProgramsBeforeUninstall(ShowProgressText)) return CloseProgressBox(failed);

  for (int step : kSteps) {
    int error = PerformUninstall(step, UninstallStepCallback);
    if (error != 0) {
      LogLine(L"Error %d: uninstall step %d failed", error, step);
      return CloseProgressBox(kExitAborted);
    }
    if (step == KX_STEP_FILES) SetUninstallProgress(60);
    if (step == KX_STEP_FOLDERS) SetUninstallProgress(80);
  }
  SetUninstallProgress(90);

  if (!FlagIsSet(L"%SILENT%")) {
    SetUninstallProgress(100);
    CloseProgressBox(kExitSuccess);
    ShowEvaluated(L"#UninstallFinal", MB_OK | MB_ICONINFORMATION);
  }
  return static_cast<int>(wcstoul(EvalVar(L"%EXITCODE%"), nullptr, 10));
}
