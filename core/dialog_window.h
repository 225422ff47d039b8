// The dialog engine: real Win32 windows drawn from a DialogSpec.
//
// A dialog is a top-level window of the system dialog class, sized in
// dialog units scaled for its monitor's DPI. Panels are child windows that
// hold their own controls, so KXDlgGetDlgItem searches inside them. The
// engine talks to the dialog's handler with the events of kxcore.h:
//   0  the window and every control exist (sent before it is shown);
//   1  a button or check box was activated, its id as the parameter;
//   3  Enter was pressed while the focus is not on a push button.
// Esc, the close box and Alt+F4 act as a press of control 2 while it is
// visible and enabled, and do nothing otherwise. docs/dialogs.md has more.
#ifndef KX_CORE_DIALOG_WINDOW_H
#define KX_CORE_DIALOG_WINDOW_H

#include <windows.h>

#include "core/dialog_data.h"
#include "core/kxcore.h"

namespace kxcore {

// Window properties on every dialog, for UI test drivers: the dialog's name
// as a global atom, and a non-null value once the dialog is shown and painted.
extern const wchar_t kDialogNameProperty[];
extern const wchar_t kDialogReadyProperty[];

enum class DialogMode {
  kPage,         // a non-zero handler answer closes the dialog with that result
  kProgressBox,  // handler answers are ignored; the close-progress message ends it
};

// Creates the dialog's window, hidden, with all its controls and evaluated
// texts, and delivers event 0. Returns null when the window cannot be made,
// with the Windows error code in *error. A null handler closes a page with
// the id of control 1, 2 or 3 when one of them is pressed.
HWND CreateDialogWindow(const DialogSpec& definition, KxDialogHandler handler, DialogMode mode, DWORD* error);

// True once a page's handler has answered non-zero; *result is the answer.
bool DialogFinished(HWND dialog, int* result);

// Places the dialog where the previous dialog stood (centred on the screen
// for the first), shows it, gives the focus to the control the handler chose
// at event 0 or else to the default button, and paints it.
void ShowDialogWindow(HWND dialog);

// Gives a message of the thread's queue to the dialog's keyboard handling
// (Enter, Esc, Tab, accelerators). True when the message was consumed and
// must not be dispatched.
bool RouteDialogMessage(HWND dialog, MSG* message);

// The control with the given id anywhere in the dialog, or null.
HWND FindDialogControl(HWND dialog, int id);

}  // namespace kxcore

#endif
