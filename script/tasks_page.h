// The wizard's tasks page ("dlgwiztasks"), after the Start-menu page and
// before the installation, shown only for a package that declares [[task]]
// tables: a check box for each task, with its author's description, ticked
// as the run's choice stands (launcher/task_choice.h). Next and Back keep
// the ticks; a silent run skips the page and keeps the choice.
//
// The choice starts from each task's default; /TASKS=a,b on the command
// line chooses exactly those tasks (an empty list none) in silent and
// wizard runs alike. The chosen tasks are recorded in the uninstall entry
// (kChosenTasksValue) for the uninstaller and for later runs to read.
#ifndef KX_SCRIPT_TASKS_PAGE_H
#define KX_SCRIPT_TASKS_PAGE_H

#include <windows.h>

// Control ids of the page: the check boxes are kTaskBoxFirst and on, one per
// task, the rest hidden.
enum TasksPageControl { kTaskBoxFirst = 30, kTaskBoxCount = 8 };

// Chooses the defaults, then what /TASKS= names. False, after the usage
// with the unknown name and the package's tasks, when /TASKS= names a task
// the package lacks: the run ends with *exitCode (kExitCancelled, the code
// of any command line that cannot be followed) before anything is changed.
bool ChooseStartingTasks(int* exitCode);

// True when the package declares tasks, so that the page is shown.
bool HasTasksPage();

// "dlgwiztasks": sets up the boxes; Next and Back store the ticks into the
// choice, Cancel leaves it.
int TasksPageHandler(UINT event, HWND page, WPARAM param, LPARAM extra);

// Writes kChosenTasksValue into the uninstall entry (journalled and logged
// like the entry's other values); nothing for a package without tasks.
void RecordChosenTasks();

#endif
