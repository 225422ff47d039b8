// ShowDialogBox, ShowProgressBox and KXDlgGetDlgItem: the dialogs of the
// runtime's kxdlg.dat, drawn by the dialog engine.
#include <string>

#include "base/message_box.h"
#include "base/run_log.h"
#include "core/command_line.h"
#include "core/decimal_text.h"
#include "core/dialog_runner.h"
#include "core/dialog_window.h"
#include "core/kxcore.h"
#include "core/module_files.h"
#include "core/run_language.h"
#include "core/variables.h"

namespace {

constexpr wchar_t kProgressDialogName[] = L"dlgprogress";

void ReportProblem(const std::wstring& text) {
  std::wstring title;
  kxcore::GetVariable(L"APPTITLE", &title);
  ShowMessageBox(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void ReportWindowsError(const wchar_t* key, DWORD error) {
  ReportProblem(kxcore::Evaluate(key) + L" " + kxcore::DecimalText(error));
}

const wchar_t* PageResultName(int result) {
  switch (result) {
    case KX_PAGE_NEXT: return L"Next";
    case KX_PAGE_CANCEL: return L"Cancel";
    case KX_PAGE_BACK: return L"Back";
    case KX_PAGE_ABORT: return L"not shown";
    default: return L"closed";
  }
}

int LogPage(const wchar_t* name, int result) {
  LogLine(L"Page %ls: %ls (%d)", name, PageResultName(result), result);
  return result;
}

}  // namespace

extern "C" {

int ShowDialogBox(const wchar_t* dialogName, KxDialogHandler handler) {
  try {
    const wchar_t* name = dialogName ? dialogName : L"";
    // After the usage has been shown nothing may happen: every page cancels.
    if (kxcore::StopRequested()) return LogPage(name, KX_PAGE_CANCEL);
    kxcore::JoinClosedProgressBoxes();
    kxcore::DialogSpec dialog;
    std::wstring problem;
    if (!kxcore::LoadDialogSpec(kxcore::LibraryFolder(), name, &dialog, &problem)) {
      ReportProblem(problem);
      return LogPage(name, KX_PAGE_ABORT);
    }
    DWORD error = 0;
    int result = kxcore::RunModalPage(dialog, handler, &error);
    if (error) ReportWindowsError(L"#ErrorShowDialog", error);
    return LogPage(name, result);
  } catch (...) {
    return KX_PAGE_ABORT;
  }
}

int ShowProgressBox(KxDialogHandler handler) {
  try {
    if (kxcore::StopRequested()) return ERROR_CANCELLED;
    kxcore::JoinClosedProgressBoxes();
    kxcore::DialogSpec dialog;
    std::wstring problem;
    if (!kxcore::LoadDialogSpec(kxcore::LibraryFolder(), kProgressDialogName, &dialog, &problem)) {
      ReportProblem(problem);
      return ERROR_INVALID_DATA;
    }
    HWND box = nullptr;
    DWORD error = kxcore::OpenProgressBox(dialog, handler, &box);
    if (error) ReportWindowsError(L"#ErrorProgressBox", error);
    return static_cast<int>(error);
  } catch (...) {
    return ERROR_INTERNAL_ERROR;
  }
}

int ShowLanguageBox(void) {
  try {
    return kxcore::AskRunLanguage();
  } catch (...) {
    return KX_PAGE_ABORT;
  }
}

HWND KXDlgGetDlgItem(HWND dialog, int itemId) {
  try {
    return kxcore::FindDialogControl(dialog, itemId);
  } catch (...) {
    return nullptr;
  }
}

}  // extern "C"
