// The replace question, built in code so that it depends on no dialog data.
#include <string>
#include <vector>

#include "core/file_decision.h"
#include "core/language_table.h"
#include "core/module_files.h"
#include "core/variables.h"

namespace kxcore {
namespace {

// Window classes of dialog items by their predefined atoms.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;

// An in-memory dialog template (DLGTEMPLATE followed by DLGITEMTEMPLATEs),
// every item DWORD-aligned. Texts are set when the dialog is created.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, short cx, short cy) {
    Align();
    Put32(style | DS_SETFONT);
    Put32(WS_EX_TOPMOST);  // above the progress box, which runs on its own thread
    countAt_ = words_.size();
    Put16(0);  // item count, filled in by AddItem
    Put16(0);  // x
    Put16(0);  // y
    Put16(static_cast<WORD>(cx));
    Put16(static_cast<WORD>(cy));
    Put16(0);  // no menu
    Put16(0);  // default class
    Put16(0);  // empty caption
    Put16(8);  // font size
    PutText(L"MS Shell Dlg");
  }

  void AddItem(WORD classAtom, DWORD style, WORD id, short x, short y, short cx, short cy) {
    Align();
    Put32(style | WS_CHILD | WS_VISIBLE);
    Put32(0);
    Put16(static_cast<WORD>(x));
    Put16(static_cast<WORD>(y));
    Put16(static_cast<WORD>(cx));
    Put16(static_cast<WORD>(cy));
    Put16(id);
    Put16(0xFFFF);
    Put16(classAtom);
    Put16(0);  // empty title
    Put16(0);  // no creation data
    ++words_[countAt_];
  }

  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Put16(WORD value) { words_.push_back(value); }
  void Put32(DWORD value) {
    Put16(LOWORD(value));
    Put16(HIWORD(value));
  }
  void PutText(const wchar_t* text) {
    for (; *text; ++text) Put16(static_cast<WORD>(*text));
    Put16(0);
  }
  void Align() {
    if (words_.size() % 2) Put16(0);
  }

  std::vector<WORD> words_;
  size_t countAt_ = 0;
};

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
  DialogTemplate form(DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND | WS_POPUP | WS_CAPTION | WS_SYSMENU, 276, 100);
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
