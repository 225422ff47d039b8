// The uninstaller's flow: rights check, confirmation, progress box, the five
// removal steps of the core library, the final message and the exit code.
#ifndef KX_UNINSTALL_UNINSTALL_FLOW_H
#define KX_UNINSTALL_UNINSTALL_FLOW_H

#include <windows.h>

// Progress box items of the uninstaller's "dlgprogress".
enum UninstallProgressItem {
  kUninstallCancelItem = 0,
  kUninstallBarItem = 3,
  kUninstallTextItem = 6
};

// Names the package's uninstall key (KXUNINSTREGKEY) and asks the core
// library whether to run the uninstall. Schedules nothing: the last removal
// step schedules the program's own file once every step has succeeded.
bool PrepareUninstall();

// Runs the uninstall: kExitCancelled unless the user answers Yes (a question
// that could not be shown is no consent), kExitAborted without administrator
// rights or when a step fails, otherwise the number in EXITCODE.
int RunUninstall();

// The progress box's handler: keeps the box and its bar, hides Cancel.
int UninstallProgressHandler(UINT event, HWND box, WPARAM param, LPARAM extra);

// Given to every PerformUninstall call; looks at nothing.
int UninstallStepCallback(int step, int kind, const wchar_t* text);

// Moves the progress bar (0 to 100); nothing happens without a box.
void SetUninstallProgress(int position);

#endif
