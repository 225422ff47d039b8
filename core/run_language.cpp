#include "core/run_language.h"

#include <windows.h>

#include <string>

#include "base/message_box.h"
#include "base/run_log.h"
#include "core/decimal_text.h"
#include "core/dialog_template.h"
#include "core/dialog_window.h"
#include "core/kxcore.h"
#include "core/command_line.h"
#include "core/language_choice.h"
#include "core/language_table.h"
#include "core/module_files.h"
#include "core/variables.h"

namespace kxcore {
namespace {

// The run's language and whether /LANG= named it: process-wide values of
// the run, as SILENT is.
unsigned short g_language;
bool g_requested;

// Controls of the language box.
enum { kLanguagePrompt = 100, kLanguageList = 101 };

constexpr wchar_t kLanguageBoxName[] = L"dlglanguage";

unsigned short NumberVariable(const wchar_t* name) {
  std::wstring text;
  unsigned short id = 0;
  if (GetVariable(name, &text)) ParseLanguageList(text, &id, 1);
  return id;
}

// The language's own name for itself ("Deutsch", "日本語"), as Windows
// writes it, with a capital first letter; the table's name where Windows
// knows none.
std::wstring NativeName(unsigned short id) {
  wchar_t name[LOCALE_NAME_MAX_LENGTH + 32];
  if (GetLocaleInfoW(MAKELCID(id, SORT_DEFAULT), LOCALE_SNATIVELANGNAME, name, LOCALE_NAME_MAX_LENGTH + 32) > 1) {
    CharUpperBuffW(name, 1);
    return name;
  }
  for (size_t i = 0; i < kKnownLanguageCount; ++i)
    if (kKnownLanguages[i].id == id) return kKnownLanguages[i].name;
  return DecimalText(id);
}

INT_PTR CALLBACK LanguageBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowTextW(box, Evaluate(L"#selectlanguagetitle").c_str());
      SetDlgItemTextW(box, kLanguagePrompt, Evaluate(L"#selectlanguage").c_str());
      SetDlgItemTextW(box, IDOK, Evaluate(L"#ok").c_str());
      SetDlgItemTextW(box, IDCANCEL, Evaluate(L"#cancel").c_str());
      HWND list = GetDlgItem(box, kLanguageList);
      unsigned short offered[kMaxRunLanguages];
      const size_t count = OfferedLanguages(offered);
      for (size_t i = 0; i < count; ++i) {
        const LRESULT item = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(NativeName(offered[i]).c_str()));
        SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(item), offered[i]);
        if (offered[i] == g_language) SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
      }
      // The UI driver finds the box by its name, like the engine's pages.
      SetPropW(box, kDialogNameProperty,
               reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GlobalAddAtomW(kLanguageBoxName))));
      SetPropW(box, kDialogReadyProperty, reinterpret_cast<HANDLE>(1));
      SetForegroundWindow(box);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        HWND list = GetDlgItem(box, kLanguageList);
        const LRESULT item = SendMessageW(list, CB_GETCURSEL, 0, 0);
        EndDialog(box, item == CB_ERR ? 0 : SendMessageW(list, CB_GETITEMDATA, static_cast<WPARAM>(item), 0));
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(box, 0);
        return TRUE;
      }
      break;
    case WM_DESTROY:
      if (ATOM atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(RemovePropW(box, kDialogNameProperty))))
        GlobalDeleteAtom(atom);
      RemovePropW(box, kDialogReadyProperty);
      break;
  }
  return FALSE;
}

}  // namespace

size_t OfferedLanguages(unsigned short (&ids)[kMaxRunLanguages]) {
  std::wstring list;
  size_t count = GetVariable(L"KXLANGUAGES", &list) ? ParseLanguageList(list, ids, kMaxRunLanguages) : 0;
  if (count == 0) ids[count++] = kEnglishLanguage;
  return count;
}

bool SetRunLanguage(unsigned short id) {
  // English needs no table of its own: without kxlng.dat the keys stay as
  // written, as they always did.
  if (!ActivateLanguageTable(id) && id != kEnglishLanguage) return false;
  const LanguageTable& table = ActiveLanguageTable();
  const std::wstring name = table.name.empty() || table.languageId != id ? std::wstring(L"English") : table.name;
  g_language = id;
  const bool rightToLeft = IsRightToLeftLanguage(id);
  SetVariable(L"SELLANG", name);
  SetVariable(L"KXLANGID", DecimalText(id));
  SetVariable(L"KXLANGRTL", rightToLeft ? L"1" : L"0");
  SetMessageBoxRightToLeft(rightToLeft);
  LogLine(L"Language: %ls (%u)%ls", name.c_str(), static_cast<unsigned>(id), rightToLeft ? L", right to left" : L"");
  return true;
}

void StartRunLanguage(unsigned short requested) {
  unsigned short offered[kMaxRunLanguages];
  const size_t count = OfferedLanguages(offered);
  g_requested = requested != 0;
  const unsigned short chosen =
      ChooseLanguage(offered, count, requested, NumberVariable(L"KXLANGRECORDED"), GetUserDefaultUILanguage());
  // A table that cannot be read leaves the first language, else English.
  if (!SetRunLanguage(chosen) && !SetRunLanguage(offered[0])) SetRunLanguage(kEnglishLanguage);
}

unsigned short RunLanguage() { return g_language; }

bool RunLanguageRequested() { return g_requested; }

int AskRunLanguage() {
  if (StopRequested()) return KX_PAGE_CANCEL;
  unsigned short offered[kMaxRunLanguages];
  std::wstring silent;
  if (OfferedLanguages(offered) < 2 || g_requested || (GetVariable(L"SILENT", &silent) && silent == L"1"))
    return KX_PAGE_NEXT;
  DialogTemplate form(DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                      IsRightToLeftLanguage(g_language) ? WS_EX_LAYOUTRTL : 0, 200, 84);
  form.AddItem(kStaticClass, SS_LEFT, kLanguagePrompt, 10, 10, 180, 20);
  form.AddItem(kComboBoxClass, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kLanguageList, 10, 34, 180, 140);
  form.AddItem(kButtonClass, BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK, 82, 60, 52, 14);
  form.AddItem(kButtonClass, BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, 138, 60, 52, 14);
  const INT_PTR chosen = DialogBoxIndirectParamW(LibraryModule(), form.get(), nullptr, LanguageBoxProc, 0);
  if (chosen == -1) {
    LogLine(L"Language box not shown (error %lu)", GetLastError());
    return KX_PAGE_ABORT;
  }
  if (chosen == 0) {
    LogLine(L"Language box: cancelled");
    return KX_PAGE_CANCEL;
  }
  LogLine(L"Language box: %u chosen", static_cast<unsigned>(chosen));
  SetRunLanguage(static_cast<unsigned short>(chosen));
  return KX_PAGE_NEXT;
}

}  // namespace kxcore
