// A program for the running-programs tests, copied into a test's folder:
//   holder window     a window; ends with 0 when it is closed
//   holder stubborn   a window that refuses to close and to end the session
//   holder hidden     no window at all; runs until it is ended
// Each holds its own file open without sharing (as a program holds a
// document) and reports that it is ready by creating "<program>.ready".
#include <windows.h>

LRESULT CALLBACK Plain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK Stubborn(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_QUERYENDSESSION) return FALSE;
  if (message == WM_CLOSE || message == WM_ENDSESSION) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
  wchar_t self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH - 8);
  if (length == 0) return 3;
  const bool stubborn = lstrcmpiW(arguments, L"stubborn") == 0;
  const bool hidden = lstrcmpiW(arguments, L"hidden") == 0;
  wchar_t data[MAX_PATH];
  lstrcpyW(data, self);
  lstrcpyW(data + length, L".dat");
  HANDLE held = CreateFileW(data, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 2;
  if (!hidden) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = stubborn ? Stubborn : Plain;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"KxHolderWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"KxHolderWindow", L"Holder", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOWNOACTIVATE);
  }
  wchar_t ready[MAX_PATH];
  lstrcpyW(ready, self);
  lstrcpyW(ready + length, L".ready");
  CloseHandle(CreateFileW(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (hidden) {
    Sleep(INFINITE);
  } else {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  }
  CloseHandle(held);
  return 0;
}
