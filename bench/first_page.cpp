// The first wizard page's time, for bench/run.sh (case firstpage): starts a
// setup program and polls its windows until the first core-library page is
// shown and painted (the KXDialogReady property, docs/dialogs.md), then ends
// the run as a user would, with Cancel and Yes.
//
//   kxbench_first_page SETUP.EXE [ARGUMENTS]
//
// Prints "first_page_ms N" on success; exits 1 when no page came within 60 s.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

namespace {

constexpr DWORD kTimeoutMs = 60000;
constexpr int kCancelButton = 2;

struct Search {
  DWORD processId;
  HWND found;
  bool pageOnly;
};

BOOL CALLBACK FindWindowOfProcess(HWND window, LPARAM parameter) {
  Search* search = reinterpret_cast<Search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  const bool isPage = GetPropW(window, L"KXDialogReady") != nullptr;
  wchar_t className[16] = L"";
  GetClassNameW(window, className, 16);
  // A message box: the dialog class with a static text of id 0xFFFF.
  const bool isBox = wcscmp(className, L"#32770") == 0 && GetDlgItem(window, 0xFFFF) != nullptr;
  if (search->pageOnly ? isPage : isBox) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND WaitFor(const PROCESS_INFORMATION& process, bool page, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < deadline) {
    Search search = {process.dwProcessId, nullptr, page};
    EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

// A control by id anywhere in the page (also inside its panels).
BOOL CALLBACK FindCancel(HWND window, LPARAM parameter) {
  if (GetDlgCtrlID(window) != kCancelButton) return TRUE;
  *reinterpret_cast<HWND*>(parameter) = window;
  return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fwprintf(stderr, L"usage: kxbench_first_page SETUP.EXE [ARGUMENTS]\n");
    return 2;
  }
  wchar_t commandLine[4096];
  _snwprintf(commandLine, 4096, L"\"%ls\" %ls", argv[1], argc > 2 ? argv[2] : L"");
  commandLine[4095] = L'\0';
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  LARGE_INTEGER frequency, started, shown;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&started);
  if (!CreateProcessW(argv[1], commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    fwprintf(stderr, L"kxbench_first_page: cannot start %ls (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  HWND page = WaitFor(process, true, kTimeoutMs);
  QueryPerformanceCounter(&shown);
  int result = 1;
  if (page != nullptr) {
    wprintf(L"first_page_ms %.1f\n", (shown.QuadPart - started.QuadPart) * 1000.0 / frequency.QuadPart);
    result = 0;
    // Cancel, and Yes to the question whether to leave setup.
    HWND cancel = nullptr;
    EnumChildWindows(page, FindCancel, reinterpret_cast<LPARAM>(&cancel));
    if (cancel != nullptr) PostMessageW(cancel, BM_CLICK, 0, 0);
    HWND box = WaitFor(process, false, 10000);
    if (box != nullptr)
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDYES)));
  } else {
    fwprintf(stderr, L"kxbench_first_page: no page within %lu ms\n", kTimeoutMs);
  }
  if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    result = 1;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}
