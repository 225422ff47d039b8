// The tasks a package offers ([[task]]: optional steps such as a desktop
// shortcut or a file type) and which of them this run carries out. A
// declaration that names a task (task = "name") is carried out only when
// that task is chosen (launcher/declared_records.h DeclarationChosen); one
// that names none always is.
//
// Setup chooses each task's default, then what /TASKS= names, then what the
// user ticks on the tasks page (script/tasks_page.h); the uninstaller takes
// the choice the installation recorded in its uninstall entry, for the
// programs its declarations run before the uninstall.
//
// Task names compare without regard to case, as switches do.
#ifndef KX_LAUNCHER_TASK_CHOICE_H
#define KX_LAUNCHER_TASK_CHOICE_H

#include <windows.h>
#include <stddef.h>

// The uninstall entry's value that records the chosen tasks: their names
// separated by commas, "" for none. Written only for a package with tasks.
constexpr wchar_t kChosenTasksValue[] = L"KxTasks";

// The longest list of names: every task's at their longest, with commas.
constexpr size_t kTaskListCapacity = 8 * 33 + 1;

// The number of tasks the package declares.
unsigned TaskCount();

// Every task as its default says.
void ChooseDefaultTasks();

bool TaskChosenAt(unsigned index);
void SetTaskChosen(unsigned index, bool chosen);

// True for a declaration without a task (null or empty name) and for a
// chosen task; false for any other name.
bool TaskNameChosen(const wchar_t* name);

enum class TaskListResult { kChosen, kUnknownName };

// Chooses exactly the tasks of a comma-separated list (blanks around names
// are ignored, an empty list chooses none). On kUnknownName nothing changes
// and unknown[0..unknownCapacity) holds the first name the package lacks.
TaskListResult ChooseTaskList(const wchar_t* list, size_t length, wchar_t* unknown, size_t unknownCapacity);

// The chosen tasks' names separated by commas, in the package's order.
// False when they do not fit (capacity at least kTaskListCapacity always does).
bool ChosenTaskList(wchar_t* out, size_t capacity);

// The uninstaller: the choice recorded in the uninstall entry under root and
// key; the defaults when it recorded none (an installation from before tasks).
void ChooseRecordedTasks(HKEY root, const wchar_t* key);

#endif
