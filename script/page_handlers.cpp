#include "script/page_handlers.h"

#include <wchar.h>

#include "base/message_box.h"
#include "core/kxcore.h"
#include "launcher/script_flags.h"
#include "script/destination_space.h"
#include "script/folder_picker.h"
#include "script/script_state.h"

namespace {

// Flag variables hold "1" for yes; 4 units are enough to tell "1" from
// anything longer.
constexpr int kPickerPathBytes = static_cast<int>(kPickerPathCapacity * sizeof(wchar_t));

HWND Item(HWND page, int id) { return KXDlgGetDlgItem(page, id); }

void ApplyBackRule(HWND page) {
  if (g_pageCounter == 0) EnableWindow(Item(page, kControlBack), FALSE);
}


bool IsBlank(const wchar_t* text) {
  for (; *text; ++text)
    if (*text != L' ' && *text != L'\t') return false;
  return true;
}

void ShowFolderWarning(HWND page) {
  wchar_t text[kPickerPathCapacity];
  EvalVarBuf(L"#FolderWarning", text, kPickerPathBytes);
  ShowMessageBox(page, text, nullptr, MB_ICONERROR);
}

void ReadField(HWND page, wchar_t* text) {
  text[0] = L'\0';
  GetWindowTextW(Item(page, kControlField), text, static_cast<int>(kPickerPathCapacity));
}

void OpenFolderPage(HWND page) {
  SetFocus(Item(page, kControlField));
  ApplyBackRule(page);
}

int DestinationCommand(HWND page, WPARAM control) {
  wchar_t text[kPickerPathCapacity];
  if (control == kControlNext) {
    ReadField(page, text);
    // An empty, blank or relative folder would be taken from the current
    // directory: the runtime folder, which goes at the end of the run.
    if (!IsFullPath(text)) {
      ShowFolderWarning(page);
      return KX_PAGE_STAY;
    }
    SetVar(L"DLGSELPATH", text);
    return KX_PAGE_NEXT;
  }
  if (control == kControlBrowse) {
    ReadField(page, text);
    wchar_t title[kPickerPathCapacity];
    EvalVarBuf(L"#AskBrowseFolders", title, kPickerPathBytes);
    // The field's text is both the initial folder and the result buffer:
    // the picker reads it only while it opens.
    if (BrowseForFolder(page, title, text, text)) SetWindowTextW(Item(page, kControlField), text);
    return KX_PAGE_STAY;
  }
  return PageButtonResult(control);
}

// What the Start-menu page shows for a full folder: the levels below the
// root; a folder elsewhere (or the root itself) gives its name, for a
// folder of that name below the root.
const wchar_t* StartMenuFieldText(const wchar_t* folder, const wchar_t* root) {
  const wchar_t* below = PathBelowRoot(folder, root);
  return below ? below : PathLastComponent(folder);
}

int StartMenuCommand(HWND page, WPARAM control) {
  wchar_t text[kPickerPathCapacity];
  if (control == kControlNext) {
    ReadField(page, text);
    // Every level below the root is kept ("Publisher\Product"), as a
    // silent run keeps the package's folder; none may climb out of it. A
    // '%' would be expanded as a variable when the text is stored.
    if (IsBlank(text) || !IsStartMenuFolderName(text) || wcschr(text, L'%')) {
      ShowFolderWarning(page);
      return KX_PAGE_STAY;
    }
    for (wchar_t* c = text; *c; ++c)
      if (*c == L'/') *c = L'\\';
    // SetVar expands at once, so the second call joins the root and the name.
    SetVar(L"DLGSELPATH", text);
    SetVar(L"DLGSELPATH", L"%KXSHORTCUTROOT%\\%DLGSELPATH%");
    return KX_PAGE_NEXT;
  }
  if (control == kControlBrowse) {
    ReadField(page, text);
    wchar_t title[kPickerPathCapacity];
    wchar_t root[kPickerPathCapacity];
    EvalVarBuf(L"#AskBrowseFolders", title, kPickerPathBytes);
    EvalVarBuf(L"%KXSHORTCUTROOT%", root, kPickerPathBytes);
    if (BrowseForFolder(page, title, root, text))
      SetWindowTextW(Item(page, kControlField), StartMenuFieldText(text, root));
    return KX_PAGE_STAY;
  }
  return PageButtonResult(control);
}

void StoreTaskState(HWND page, int id, const wchar_t* variable) {
  bool checked = SendMessageW(Item(page, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
  SetVar(variable, checked ? L"1" : L"0");
}

}  // namespace

int PageButtonResult(WPARAM control) {
  switch (control) {
    case kControlNext:
      return KX_PAGE_NEXT;
    case kControlCancel:
      return KX_PAGE_CANCEL;
    case kControlBack:
      return KX_PAGE_BACK;
    default:
      return KX_PAGE_STAY;
  }
}

int WelcomePageHandler(UINT event, HWND page, WPARAM param, LPARAM) {
  if (event == KX_EVENT_CREATED) ApplyBackRule(page);
  if (event == KX_EVENT_COMMAND) return PageButtonResult(param);
  return KX_PAGE_STAY;
}

int LicensePageHandler(UINT event, HWND page, WPARAM param, LPARAM) {
  if (event == KX_EVENT_CREATED) {
    ApplyBackRule(page);
    SetFocus(Item(page, kControlField));
  }
  if (event == KX_EVENT_COMMAND) return PageButtonResult(param);
  return KX_PAGE_STAY;
}

int DestinationPageHandler(UINT event, HWND page, WPARAM param, LPARAM) {
  switch (event) {
    case KX_EVENT_CREATED:
      OpenFolderPage(page);
      if (FlagIsSet(L"%KXDISABDIR%")) {
        EnableWindow(Item(page, kControlField), FALSE);
        EnableWindow(Item(page, kControlBrowse), FALSE);
      }
      ShowDestinationSpace(page);
      return KX_PAGE_STAY;
    case KX_EVENT_EDITED:
      if (param == kControlField) ShowDestinationSpace(page);
      return KX_PAGE_STAY;
    case KX_EVENT_COMMAND:
      return DestinationCommand(page, param);
    case KX_EVENT_ENTER:
      return DestinationCommand(page, kControlNext);
    default:
      return KX_PAGE_STAY;
  }
}

int StartMenuPageHandler(UINT event, HWND page, WPARAM param, LPARAM) {
  switch (event) {
    case KX_EVENT_CREATED: {
      OpenFolderPage(page);
      // The page receives the full folder in DLGSELPATH and shows it below
      // the root, every level of it.
      wchar_t text[kPickerPathCapacity];
      wchar_t root[kPickerPathCapacity];
      ReadField(page, text);
      EvalVarBuf(L"%KXSHORTCUTROOT%", root, kPickerPathBytes);
      SetWindowTextW(Item(page, kControlField), StartMenuFieldText(text, root));
      return KX_PAGE_STAY;
    }
    case KX_EVENT_COMMAND:
      return StartMenuCommand(page, param);
    case KX_EVENT_ENTER:
      return StartMenuCommand(page, kControlNext);
    default:
      return KX_PAGE_STAY;
  }
}

int FinalPageHandler(UINT event, HWND page, WPARAM param, LPARAM) {
  if (event == KX_EVENT_CREATED) {
    if (!FlagIsSet(L"%KXRUNTASK1V%")) ShowWindow(Item(page, kControlTask1), SW_HIDE);
    if (!FlagIsSet(L"%KXRUNTASK2V%")) ShowWindow(Item(page, kControlTask2), SW_HIDE);
    if (FlagIsSet(L"%KXRUNTASK1S%")) SendMessageW(Item(page, kControlTask1), BM_SETCHECK, BST_CHECKED, 0);
    if (FlagIsSet(L"%KXRUNTASK2S%")) SendMessageW(Item(page, kControlTask2), BM_SETCHECK, BST_CHECKED, 0);
    ApplyBackRule(page);
    ShowWindow(Item(page, kControlCancel), SW_HIDE);
    return KX_PAGE_STAY;
  }
  if (event != KX_EVENT_COMMAND) return KX_PAGE_STAY;
  if (param == kControlNext || param == kControlCancel) {
    StoreTaskState(page, kControlTask1, L"KXRUNTASK1S");
    StoreTaskState(page, kControlTask2, L"KXRUNTASK2S");
    return KX_PAGE_NEXT;
  }
  return param == kControlBack ? KX_PAGE_BACK : KX_PAGE_STAY;
}
