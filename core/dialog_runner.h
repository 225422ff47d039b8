// Running dialogs: modal pages on the caller's thread, and progress boxes on
// a UI thread of their own.
#ifndef KX_CORE_DIALOG_RUNNER_H
#define KX_CORE_DIALOG_RUNNER_H

#include <windows.h>

#include <string>
#include <string_view>

#include "core/dialog_data.h"
#include "core/kxcore.h"

namespace kxcore {

// Reads kxdlg.dat from the folder (ending in a backslash) and takes the named
// dialog from it. On failure *problem is a message for the user: the data
// file unreadable or malformed (naming the line), or no such dialog.
bool LoadDialogSpec(const std::wstring& folder, std::wstring_view name, DialogSpec* dialog, std::wstring* problem);

// Shows a page and runs it until its handler closes it; returns the handler's
// answer. KX_PAGE_ABORT when the window cannot be made (*error set).
int RunModalPage(const DialogSpec& dialog, KxDialogHandler handler, DWORD* error);

// Opens a progress box on a new thread and returns once the handler has seen
// event 0 and the box is showing: 0 with *box set, or a Windows error code.
// The close-progress message (KX_WM_CLOSEPROGRESS) closes the box and ends
// the thread.
DWORD OpenProgressBox(const DialogSpec& dialog, KxDialogHandler handler, HWND* box);

// Waits for the threads of progress boxes that have been closed, so that none
// still runs library code when the library is released. Called at the start
// of every dialog operation.
void JoinClosedProgressBoxes();

}  // namespace kxcore

#endif
