#include "uninstall/declared_uninstall.h"

#include <stdio.h>
#include <wchar.h>

#include "base/exit_codes.h"
#include "base/message_box.h"
#include "base/path_services.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "launcher/declared_programs.h"
#include "launcher/declared_records.h"
#include "launcher/launcher_main.h"
#include "launcher/literal_text.h"
#include "launcher/install_scope.h"
#include "launcher/package_data.h"
#include "launcher/task_choice.h"

namespace {

// The installation folder: the uninstaller's own, as setup recorded it.
bool InstallationFolder(wchar_t* folder, size_t capacity) {
  static wchar_t program[kModulePathCapacity];
  wcscpy(program, g_launcher.modulePath);
  StripLastPathComponent(program);
  return program[0] && NormalInstallFolder(program, folder, capacity);
}

void Allow(int kind, const wchar_t* text) { AllowUninstallRecord(kind, text); }

void ShowNothing(const wchar_t*) {}

}  // namespace

void AllowDeclaredRecords() {
  static wchar_t folder[kDeclExpandedCapacity];
  if (!InstallationFolder(folder, kDeclExpandedCapacity)) return;
  ForEachDeclaredRecord(g_declarations, folder, CurrentDeclarationScope(), Allow);
}

int RunProgramsBeforeUninstall(void (*show)(const wchar_t* text)) {
  static wchar_t folder[kDeclExpandedCapacity];
  // A program of a task runs only when the installation chose that task.
  ChooseRecordedTasks(ScopeRootKey(), g_package.uninstallRegistryKey);
  if (!InstallationFolder(folder, kDeclExpandedCapacity)) return 0;
  const RunResult result =
      RunDeclaredPrograms(g_declarations, RunMoment::kBeforeUninstall, folder, show ? show : ShowNothing);
  if (result.outcome == RunOutcome::kDone) return 0;
  wchar_t code[16];
  _snwprintf(code, 15, L"%lu", static_cast<unsigned long>(result.code));
  code[15] = L'\0';
  SetVar(L"KXEXTERR", code);
  SetVarLiteral(L"KXRUNPROGRAM", result.program);
  ShowMessageBox(nullptr, EvalVar(L"#programfaileduninstall"), g_launcher.title, MB_OK | MB_ICONERROR);
  return kExitDeclarationFailed;
}
