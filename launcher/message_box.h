// Every message box the programs show goes through here, so that unit tests
// can see and answer them without a display.
#ifndef KX_LAUNCHER_MESSAGE_BOX_H
#define KX_LAUNCHER_MESSAGE_BOX_H

#include <windows.h>

typedef int (*MessageBoxFunction)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);

// Shows a message box (MessageBoxW unless a test replaced it); returns the
// button pressed.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);

// Replaces the function behind ShowMessageBox (tests); null restores
// MessageBoxW. Returns the previous function.
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function);

#endif
