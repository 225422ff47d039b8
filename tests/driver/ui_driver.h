// Drives the windows of another process from a test: finds its top-level
// windows, reads control texts and states, presses buttons and answers
// message boxes. Polls with a deadline; never sleeps to synchronise.
#ifndef KX_TESTS_DRIVER_UI_DRIVER_H
#define KX_TESTS_DRIVER_UI_DRIVER_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kxdrive {

constexpr DWORD kDefaultTimeoutMs = 20000;

// Visible, enabled top-level windows of the process, in Z order.
std::vector<HWND> TopWindows(DWORD processId);

// Waits until a visible top-level window of the process satisfies the
// predicate; null after the timeout or when the process ended.
HWND WaitForWindow(DWORD processId, HANDLE process, const std::function<bool(HWND)>& predicate,
                   DWORD timeoutMs = kDefaultTimeoutMs);

// Waits for a message box (dialog class #32770 with a static text of id
// 0xFFFF) of the process.
HWND WaitForMessageBox(DWORD processId, HANDLE process, DWORD timeoutMs = kDefaultTimeoutMs);

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
bool IsMessageBox(HWND window);
// The text of a message box's message.
std::wstring MessageBoxText(HWND messageBox);

// Child control by id, and its state.
HWND Control(HWND dialog, int id);
bool IsVisible(HWND control);
bool IsEnabled(HWND control);
bool IsChecked(HWND control);

// Clicks a button (as the user would: the button posts its command).
bool Press(HWND dialog, int id);

// Presses the message box's button with the given id (IDOK, IDYES, ...).
bool AnswerMessageBox(HWND messageBox, int buttonId);

}  // namespace kxdrive

#endif
