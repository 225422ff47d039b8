// A small program for the UI tests: it binds the real kxcore64.dll from a
// runtime folder through the programs' lazy binder, sets the variables the
// install script sets, and shows one page or progress box with handlers that
// behave like the programs' own. Its command line is InitSFX's (/S, /D=...);
// the rest comes from the environment:
//   KX_HOST_RUNTIME   the runtime folder (kxcore64.dll, kxdlg.dat, ...)
//   KX_HOST_COMMAND   page | progress | uninstall-progress | variables
//   KX_HOST_DIALOG    the page for "page"
//   KX_HOST_COUNTER   the page counter (Back is disabled while it is 0)
//   KX_HOST_SET       extra variables, "NAME=value|NAME=value"
//   KX_HOST_EVENTS    a file that gets one line per handler event
//   KX_HOST_DONE      the name of an event that ends a progress box's work
// Exit code: the page result; for progress boxes 0, or 2 after a confirmed
// Cancel; for "variables" 0 (the values go to the events file).
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "core/kxcore.h"
#include "launcher/core_binding.h"

namespace {

std::wstring g_eventsFile;
int g_pageCounter;
HWND g_box;
HWND g_bar;
HWND g_text;
HANDLE g_done;
volatile LONG g_cancelled;

std::wstring Environment(const wchar_t* name) {
  wchar_t value[4096];
  DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return length && length < 4096 ? std::wstring(value, length) : std::wstring();
}

void Append(const std::wstring& line) {
  if (g_eventsFile.empty()) return;
  HANDLE file = CreateFileW(g_eventsFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  std::wstring text = line + L"\r\n";
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
  DWORD written;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

void LogEvent(UINT event, WPARAM param) {
  Append(L"event " + std::to_wstring(event) + L" " + std::to_wstring(param));
}

bool IsOne(const wchar_t* text) { return lstrcmpW(EvalVar(text), L"1") == 0; }

const wchar_t* LastComponent(const wchar_t* path) {
  const wchar_t* last = wcsrchr(path, L'\\');
  return last ? last + 1 : path;
}

int PageHandler(UINT event, HWND page, WPARAM param, LPARAM) {
  LogEvent(event, param);
  wchar_t name[64] = {};
  ATOM atom = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropW(page, L"KXDialogName")));
  GlobalGetAtomNameW(atom, name, 64);
  const std::wstring dialog = name;
  if (event == KX_EVENT_CREATED) {
    if (g_pageCounter == 0) EnableWindow(KXDlgGetDlgItem(page, 3), FALSE);
    if (dialog == L"dlgwizlicag" || dialog == L"dlgwizseldir" || dialog == L"dlgwizselgroup")
      SetFocus(KXDlgGetDlgItem(page, 20));
    if (dialog == L"dlgwizselgroup") {
      wchar_t path[520];
      GetWindowTextW(KXDlgGetDlgItem(page, 20), path, 520);
      SetWindowTextW(KXDlgGetDlgItem(page, 20), std::wstring(LastComponent(path)).c_str());
    }
    if (dialog == L"dlgwizfinal") {
      if (!IsOne(L"%KXRUNTASK1V%")) ShowWindow(KXDlgGetDlgItem(page, 6), SW_HIDE);
      if (!IsOne(L"%KXRUNTASK2V%")) ShowWindow(KXDlgGetDlgItem(page, 7), SW_HIDE);
      if (IsOne(L"%KXRUNTASK1S%")) SendMessageW(KXDlgGetDlgItem(page, 6), BM_SETCHECK, BST_CHECKED, 0);
      if (IsOne(L"%KXRUNTASK2S%")) SendMessageW(KXDlgGetDlgItem(page, 7), BM_SETCHECK, BST_CHECKED, 0);
      ShowWindow(KXDlgGetDlgItem(page, 2), SW_HIDE);
    }
    return 0;
  }
  if (event == KX_EVENT_COMMAND && param >= 1 && param <= 3) return static_cast<int>(param);
  const bool folderPage = dialog == L"dlgwizseldir" || dialog == L"dlgwizselgroup";
  if (event == KX_EVENT_ENTER && folderPage) return 1;
  return 0;
}

bool AskCancel(HWND owner) {
  wchar_t text[520];
  EvalVarBuf(L"#askcancelext", text, sizeof text);
  return MessageBoxW(owner, text, EvalVar(L"%APPTITLE%"), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

int SetupProgressHandler(UINT event, HWND box, WPARAM param, LPARAM) {
  LogEvent(event, param);
  if (event == KX_EVENT_CREATED) {
    g_box = box;
    g_bar = KXDlgGetDlgItem(box, 20);
    g_text = KXDlgGetDlgItem(box, 21);
    wchar_t hide[4];
    EvalVarBuf(L"%KXEXTHC%", hide, sizeof hide);
    EnableWindow(KXDlgGetDlgItem(box, 3), FALSE);
    EnableWindow(KXDlgGetDlgItem(box, 1), FALSE);
    if (lstrcmpW(hide, L"1") == 0) ShowWindow(KXDlgGetDlgItem(box, 2), SW_HIDE);
  } else if (event == KX_EVENT_COMMAND && param == 2) {
    if (AskCancel(box)) {
      InterlockedExchange(&g_cancelled, 1);
      SetEvent(g_done);
    }
  }
  return 0;
}

int UninstallProgressHandler(UINT event, HWND box, WPARAM param, LPARAM) {
  LogEvent(event, param);
  if (event == KX_EVENT_CREATED) {
    g_box = box;
    g_bar = KXDlgGetDlgItem(box, 3);
    g_text = KXDlgGetDlgItem(box, 6);
    ShowWindow(KXDlgGetDlgItem(box, 0), SW_HIDE);
  }
  return 0;
}

void SetScriptVariables() {
  SetVar(L"APPTITLE", L"Quillmark Toolkit Setup (64-bit)");
  SetVar(L"EXITCODE", L"0");
  SetVar(L"TOTALEXTFILE", L"6");
  SetVar(L"SILENT", L"0");
  SetVar(L"ARCFILEVER", L"2020.01.15.01");
  SetVar(L"SELLANG", L"English");
  SetVar(L"KXLANGID", L"1033");
  SetVar(L"DESTPATH", L"%PROGFILESDIR%\\Quillmark");
  SetVar(L"SHORTCUTPATH", L"%COMPROGMENUDIR%\\Quillmark");
  SetVar(L"KXWIZLABEL", L"Quillmark Toolkit Setup");
  SetVar(L"KXDLGNEXTC", L"#Next");
  SetVar(L"KXWIZWATERM", L"%KXSFXPATH%\\kxwaterm.bmp");
  SetVar(L"KXWELCRTF", L"%KXSFXPATH%\\kxwelc%SELLANG%.rtf");
  SetVar(L"KXDLGLICTXT", L"%KXSFXPATH%\\kxlic%SELLANG%.rtf");
  SetVar(L"KXWIZHEADER", L"%KXSFXPATH%\\kxheader.bmp");
  SetVar(L"KXDLGLICINTRO", L"#LicIntro");
  SetVar(L"KXDLGLICEND", L"#LicEnd");
  SetVar(L"KXDLGLICCAPT", L"#WizLicAgTitle");
  SetVar(L"DLGSELPROMPT", L"#BrowseFolders");
  SetVar(L"KXDLGCAPTION", L"#WizDirTitle");
  SetVar(L"DLGSELPROMPT2", L"#AskBrowseFolders");
  SetVar(L"KXSHORTCUTROOT", L"%COMPROGMENUDIR%");
  SetVar(L"KXEXTTEXT", L"#Extracting");
  SetVar(L"KXEXTHC", L"0");
  const std::wstring dialog = Environment(L"KX_HOST_DIALOG");
  SetVar(L"DLGSELPATH", dialog == L"dlgwizselgroup" ? L"%SHORTCUTPATH%" : L"%DESTPATH%");
  std::wstring extra = Environment(L"KX_HOST_SET");
  for (size_t start = 0; start < extra.size();) {
    size_t end = extra.find(L'|', start);
    if (end == std::wstring::npos) end = extra.size();
    std::wstring item = extra.substr(start, end - start);
    size_t equals = item.find(L'=');
    if (equals != std::wstring::npos) SetVar(item.substr(0, equals).c_str(), item.substr(equals + 1).c_str());
    start = end + 1;
  }
}

int RunProgress(bool uninstaller) {
  g_done = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, Environment(L"KX_HOST_DONE").c_str());
  if (!g_done) return 90;
  int failed = ShowProgressBox(uninstaller ? UninstallProgressHandler : SetupProgressHandler);
  Append(L"box " + std::to_wstring(failed) + L" " + std::to_wstring(g_box != nullptr));
  if (failed || !g_box) return 91;
  if (uninstaller) {
    SendMessageW(g_bar, PBM_SETPOS, 60, 0);
  } else {
    SetVar(L"EXTNAME", L"docs/LICENSE.txt");
    SendMessageW(g_text, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(EvalVar(L"%KXEXTTEXT%")));
    SendMessageW(g_bar, PBM_SETPOS, 40, 0);
  }
  // The "work": this thread pumps no messages until the test says so; the
  // box must stay responsive all the same.
  WaitForSingleObject(g_done, INFINITE);
  if (uninstaller) {
    SendMessageW(g_bar, PBM_SETPOS, 100, 0);
    SendMessageW(g_box, KX_WM_CLOSEPROGRESS, 0, 0);
  } else {
    PostMessageW(g_box, KX_WM_CLOSEPROGRESS, 0, 0);
  }
  return g_cancelled ? 2 : 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  InitCommonControls();
  CoInitialize(nullptr);
  std::wstring runtime = Environment(L"KX_HOST_RUNTIME");
  if (runtime.empty()) return 99;
  if (runtime.back() != L'\\') runtime += L'\\';
  SetCoreLibraryFolder(runtime.c_str());
  g_eventsFile = Environment(L"KX_HOST_EVENTS");
  g_pageCounter = _wtoi(Environment(L"KX_HOST_COUNTER").c_str());

  SetVar(L"KXSFXPATH", runtime.substr(0, runtime.size() - 1).c_str());
  SetVar(L"APPTITLE", L"Quillmark Toolkit Setup (64-bit)");
  InitSFX(instance);
  SetScriptVariables();

  const std::wstring command = Environment(L"KX_HOST_COMMAND");
  int result = 98;
  if (command == L"page") {
    const std::wstring dialog = Environment(L"KX_HOST_DIALOG");
    if (dialog == L"dlgwizfinal") {
      ReplaceVarInFile(L"%KXSFXPATH%\\kxfin%SELLANG%.rtf", L"%KXSFXPATH%\\kxfin%SELLANG%srv.rtf", 1);
      SetVar(L"KXDLGRICHTEXT", L"%KXSFXPATH%\\kxfin%SELLANG%srv.rtf");
    }
    result = ShowDialogBox(dialog.c_str(), PageHandler);
  } else if (command == L"progress" || command == L"uninstall-progress") {
    result = RunProgress(command == L"uninstall-progress");
  } else if (command == L"variables") {
    SetVar(L"SILENT", L"0");
    for (const wchar_t* name : {L"SILENT", L"DESTPATH", L"ISADMIN", L"PROGFILESDIR", L"COMPROGMENUDIR", L"WIN"})
      Append(std::wstring(name) + L"=" + EvalVar((L"%" + std::wstring(name) + L"%").c_str()));
    result = 0;
  }
  ReleaseCoreLibrary();
  CoUninitialize();
  return result;
}
