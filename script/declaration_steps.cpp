#include "script/declaration_steps.h"

#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <wchar.h>

#include "base/exit_codes.h"
#include "base/message_box.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "extract/engine_state.h"
#include "launcher/declared_programs.h"
#include "launcher/launcher_main.h"
#include "launcher/literal_text.h"
#include "launcher/script_flags.h"
#include "script/declared_effects.h"
#include "script/declared_shortcuts.h"

namespace {

// Set on the box's thread before ShowProgressBox returns.
HWND g_box;
HWND g_text;

int ProgramBoxHandler(UINT event, HWND box, WPARAM, LPARAM) {
  if (event == KX_EVENT_CREATED) {
    g_box = box;
    g_text = KXDlgGetDlgItem(box, kItemText);
    // A program cannot be cancelled half-way: the box only shows what runs.
    ShowWindow(KXDlgGetDlgItem(box, kItemCancel), SW_HIDE);
    EnableWindow(KXDlgGetDlgItem(box, kItemBack), FALSE);
    EnableWindow(KXDlgGetDlgItem(box, kItemNext), FALSE);
    HWND bar = KXDlgGetDlgItem(box, kItemBar);
    if (bar) SendMessageW(bar, PBM_SETPOS, 100, 0);
  }
  return KX_PAGE_STAY;
}

void ShowProgramText(const wchar_t* text) {
  LogLine(L"Progress: %ls", text);
  if (g_text) SetWindowTextW(g_text, text);
}

void CloseBox() {
  if (g_box) SendMessageW(g_box, KX_WM_CLOSEPROGRESS, 0, 0);
  g_box = nullptr;
  g_text = nullptr;
}

bool HasProgramsAfterInstall() {
  for (unsigned i = 0; i < DeclarationCount(g_declarations, kxformat::kDeclRun); ++i)
    if (_wcsicmp(DeclarationAt(g_declarations, kxformat::kDeclRun, i).fields[kxformat::kRunWhen], L"after_install") == 0)
      return true;
  return false;
}

void Allow(int kind, const wchar_t* text) { AllowUninstallRecord(kind, text); }

void SetNumber(const wchar_t* name, unsigned long value) {
  wchar_t text[16];
  _snwprintf(text, 15, L"%lu", value);
  text[15] = L'\0';
  SetVar(name, text);
}

}  // namespace

int CarryOutDeclarations() {
  static wchar_t destination[kDeclExpandedCapacity];
  static wchar_t folder[kDeclExpandedCapacity];
  if (EvalVarBuf(L"%DESTPATH%", destination, sizeof destination) < 0 ||
      !NormalInstallFolder(destination, folder, kDeclExpandedCapacity)) {
    SetNumber(L"KXEXTERR", ERROR_FILENAME_EXCED_RANGE);
    ShowMessageBox(nullptr, EvalVar(L"#settingsfailed"), g_launcher.title, MB_OK | MB_ICONERROR);
    return kExitDeclarationFailed;
  }
  // The records the new uninstaller will accept, named to the library as
  // the uninstaller names them: an earlier installation's records of the
  // same declarations are carried over into the new log, the others are not
  // (the new uninstaller would refuse the whole log for them).
  ForEachDeclaredRecord(g_declarations, folder, CurrentDeclarationScope(), Allow);
  DWORD error = CreateDeclaredShortcuts(g_declarations, folder);
  if (error == 0) error = ApplyDeclaredEffects(g_declarations, folder, CurrentDeclarationScope());
  if (error != 0) {
    SetNumber(L"KXEXTERR", error);
    ShowMessageBox(nullptr, EvalVar(L"#settingsfailed"), g_launcher.title, MB_OK | MB_ICONERROR);
    return kExitDeclarationFailed;
  }
  AnnounceDeclaredChanges(g_declarations);
  if (!HasProgramsAfterInstall()) return 0;
  g_box = nullptr;
  g_text = nullptr;
  if (!FlagIsSet(L"%SILENT%")) ShowProgressBox(ProgramBoxHandler);
  const RunResult result = RunDeclaredPrograms(g_declarations, RunMoment::kAfterInstall, folder, ShowProgramText);
  CloseBox();
  if (result.outcome == RunOutcome::kDone) return 0;
  SetVarLiteral(L"KXRUNPROGRAM", result.program);
  SetNumber(L"KXEXTERR", result.code);
  ShowMessageBox(nullptr, EvalVar(L"#programfailed"), g_launcher.title, MB_OK | MB_ICONERROR);
  return kExitDeclarationFailed;
}

void AnnounceRolledBackDeclarations() { AnnounceDeclaredChanges(g_declarations); }
