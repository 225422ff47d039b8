#include "ui_driver.h"

namespace kxdrive {
namespace {

constexpr DWORD kPollMs = 50;
constexpr int kMessageTextId = 0xFFFF;

struct EnumContext {
  DWORD processId;
  std::vector<HWND>* windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter) {
  auto* context = reinterpret_cast<EnumContext*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == context->processId && IsWindowVisible(window)) context->windows->push_back(window);
  return TRUE;
}

bool ProcessEnded(HANDLE process) { return process && WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

}  // namespace

std::vector<HWND> TopWindows(DWORD processId) {
  std::vector<HWND> windows;
  EnumContext context = {processId, &windows};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&context));
  return windows;
}

HWND WaitForWindow(DWORD processId, HANDLE process, const std::function<bool(HWND)>& predicate, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    for (HWND window : TopWindows(processId))
      if (predicate(window)) return window;
    if (ProcessEnded(process) || GetTickCount() - start > timeoutMs) return nullptr;
    // Wake as soon as the process ends; otherwise poll again shortly.
    if (process)
      WaitForSingleObject(process, kPollMs);
    else
      Sleep(kPollMs);
  }
}

std::wstring WindowText(HWND window) {
  int length = static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int copied = static_cast<int>(SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0])));
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[256];
  int length = GetClassNameW(window, name, 256);
  return std::wstring(name, static_cast<size_t>(length > 0 ? length : 0));
}

bool IsMessageBox(HWND window) {
  return ClassName(window) == L"#32770" && GetDlgItem(window, kMessageTextId) != nullptr;
}

HWND WaitForMessageBox(DWORD processId, HANDLE process, DWORD timeoutMs) {
  return WaitForWindow(processId, process, IsMessageBox, timeoutMs);
}

std::wstring MessageBoxText(HWND messageBox) { return WindowText(GetDlgItem(messageBox, kMessageTextId)); }

HWND Control(HWND dialog, int id) { return GetDlgItem(dialog, id); }

bool IsVisible(HWND control) { return control && IsWindowVisible(control); }

bool IsEnabled(HWND control) { return control && IsWindowEnabled(control); }

bool IsChecked(HWND control) { return control && SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool Press(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) return false;
  PostMessageW(button, BM_CLICK, 0, 0);
  return true;
}

bool AnswerMessageBox(HWND messageBox, int buttonId) {
  HWND button = GetDlgItem(messageBox, buttonId);
  if (!button) return false;
  PostMessageW(messageBox, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  return true;
}

}  // namespace kxdrive
