// The replace question, built in code so that it depends on no dialog data.
#include <string>

#include "core/dialog_template.h"
#include "core/file_decision.h"
#include "core/language_table.h"
#include "core/module_files.h"
#include "core/variables.h"

namespace kxcore {
namespace {

void SetItemText(HWND dialog, int id, const wchar_t* key) {
  SetDlgItemTextW(dialog, id, Evaluate(key).c_str());
}

// "#overwriteprompt" names the file as %CURFILENAME%. The name is put in as
// it stands: evaluated, a '#' or '%' in a file name would be taken for a key
// or a reference.
std::wstring ReplacePrompt(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/:");
  const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const std::wstring* prompt = FindLanguageText(L"#overwriteprompt");
  std::wstring text = prompt ? *prompt : std::wstring(L"%CURFILENAME%");
  const std::wstring reference = L"%CURFILENAME%";
  std::wstring result;
  size_t start = 0;
  for (size_t found; (found = text.find(reference, start)) != std::wstring::npos; start = found + reference.size())
    result += Evaluate(text.substr(start, found - start)) + name;
  result += Evaluate(text.substr(start));
  return result + L" " + Evaluate(L"#confirmreplace");
}

INT_PTR CALLBACK ReplaceDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextW(dialog, Evaluate(L"#confirmreplacetitle").c_str());
      SetDlgItemTextW(dialog, kReplacePromptText, ReplacePrompt(reinterpret_cast<const wchar_t*>(lParam)).c_str());
      SetDlgItemTextW(dialog, kReplacePathText, reinterpret_cast<const wchar_t*>(lParam));
      SetItemText(dialog, kReplaceAllLabel, L"#dothisconflicts");
      SetItemText(dialog, kReplaceButton, L"#overwriteit");
      SetItemText(dialog, kSkipButton, L"#skipit");
      SetItemText(dialog, kReplaceAllButton, L"#yestoall");
      SetItemText(dialog, kSkipAllButton, L"#notoall");
      SetForegroundWindow(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kReplaceButton:
        case kSkipButton:
        case kReplaceAllButton:
        case kSkipAllButton:
          EndDialog(dialog, LOWORD(wParam));
          return TRUE;
        case IDCANCEL:  // Escape or the close box: keep the file on disk
          EndDialog(dialog, kSkipButton);
          return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

ReplaceAnswer AskReplaceFile(const wchar_t* path) {
  // Topmost: above the progress box, which runs on its own thread.
  std::wstring rightToLeft;
  const DWORD mirrored = GetVariable(L"KXLANGRTL", &rightToLeft) && rightToLeft == L"1" ? WS_EX_LAYOUTRTL : 0;
  DialogTemplate form(DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                      WS_EX_TOPMOST | mirrored, 276, 100);
  form.AddItem(kStaticClass, SS_LEFT | SS_NOPREFIX, kReplacePromptText, 10, 10, 256, 18);
  form.AddItem(kStaticClass, SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, kReplacePathText, 10, 32, 256, 10);
  form.AddItem(kButtonClass, BS_DEFPUSHBUTTON | WS_TABSTOP, kReplaceButton, 146, 52, 56, 14);
  form.AddItem(kButtonClass, BS_PUSHBUTTON | WS_TABSTOP, kSkipButton, 210, 52, 56, 14);
  form.AddItem(kStaticClass, SS_LEFT, kReplaceAllLabel, 10, 78, 130, 10);
  form.AddItem(kButtonClass, BS_PUSHBUTTON | WS_TABSTOP, kReplaceAllButton, 146, 76, 56, 14);
  form.AddItem(kButtonClass, BS_PUSHBUTTON | WS_TABSTOP, kSkipAllButton, 210, 76, 56, 14);

  INT_PTR chosen = DialogBoxIndirectParamW(LibraryModule(), form.get(), nullptr, ReplaceDialogProc,
                                           reinterpret_cast<LPARAM>(path));
  switch (chosen) {
    case kReplaceButton: return ReplaceAnswer::Replace;
    case kReplaceAllButton: return ReplaceAnswer::ReplaceAll;
    case kSkipAllButton: return ReplaceAnswer::SkipAll;
    default: return ReplaceAnswer::Skip;  // Skip, closed, or not shown
  }
}

}  // namespace kxcore
