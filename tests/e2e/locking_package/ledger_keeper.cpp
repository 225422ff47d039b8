// The locking test package's program: it holds its own ledger file open
// without sharing anything, as a program keeps its open document, and shows
// a window until it is closed (by its window or by Windows at log-off).
// Without the ledger it ends at once with exit code 2.
#include <windows.h>

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  wchar_t ledger[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, ledger, MAX_PATH);
  if (length == 0 || length >= MAX_PATH - 32) return 3;
  while (length > 0 && ledger[length - 1] != L'\\') --length;
  lstrcpyW(ledger + length, L"data\\ledger.dat");
  HANDLE held = CreateFileW(ledger, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 2;
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"LedgerKeeperWindow";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowW(L"LedgerKeeperWindow", L"Ledger Keeper", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, show);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  CloseHandle(held);
  return 0;
}
