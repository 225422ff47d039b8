#include "script/tasks_page.h"

#include <stdio.h>
#include <wchar.h>

#include "base/command_switches.h"
#include "base/exit_codes.h"
#include "base/message_box.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "extract/install_journal.h"
#include "launcher/install_scope.h"
#include "launcher/launcher_main.h"
#include "launcher/package_data.h"
#include "launcher/package_declarations.h"
#include "launcher/task_choice.h"
#include "script/page_handlers.h"
#include "script/script_state.h"

namespace {

static_assert(kTaskBoxCount == 8, "a box for each task [[task]] may declare");

// The usage box's text: what was wrong, the package's tasks, the usage.
constexpr size_t kUsageCapacity = 8192;

void Append(wchar_t* text, size_t capacity, const wchar_t* more) {
  const size_t used = wcslen(text);
  const size_t length = wcslen(more);
  const size_t copied = used + length < capacity ? length : capacity - 1 - used;
  wmemcpy(text + used, more, copied);
  text[used + copied] = L'\0';
}

void ShowTaskUsage(const wchar_t* unknown) {
  static wchar_t text[kUsageCapacity];
  text[0] = L'\0';
  Append(text, kUsageCapacity, EvalVar(L"#CmdLineUnknownTask"));
  Append(text, kUsageCapacity, L" ");
  Append(text, kUsageCapacity, unknown);
  Append(text, kUsageCapacity, L"\r\n");
  Append(text, kUsageCapacity, EvalVar(L"#CmdLineTasks"));
  for (unsigned i = 0; i < TaskCount(); ++i) {
    Append(text, kUsageCapacity, i == 0 ? L" " : L", ");
    Append(text, kUsageCapacity, DeclarationAt(g_declarations, kxformat::kDeclTask, i).fields[kxformat::kTaskName]);
  }
  Append(text, kUsageCapacity, L"\r\n\r\n");
  // The usage is one line of the language table; '|' marks its line breaks.
  const wchar_t* usage = EvalVar(L"#CmdLineUsage");
  wchar_t piece[2] = {0, 0};
  for (const wchar_t* c = usage; *c; ++c) {
    if (*c == L'|') {
      Append(text, kUsageCapacity, L"\r\n");
      continue;
    }
    piece[0] = *c;
    Append(text, kUsageCapacity, piece);
  }
  ShowMessageBox(nullptr, text, g_launcher.title, MB_TOPMOST | MB_ICONERROR);
}

void LogChosenTasks(const wchar_t* how) {
  wchar_t list[kTaskListCapacity];
  ChosenTaskList(list, kTaskListCapacity);
  LogLine(L"Tasks chosen (%ls): %ls", how, list[0] ? list : L"none");
}

HWND Box(HWND page, unsigned index) { return KXDlgGetDlgItem(page, kTaskBoxFirst + static_cast<int>(index)); }

// The author's text as a check box shows it: an '&' is a character, not the
// mark of an accelerator.
void SetBoxText(HWND box, const wchar_t* text) {
  wchar_t shown[2 * 260];
  size_t used = 0;
  for (const wchar_t* c = text; *c && used + 3 < sizeof shown / sizeof shown[0]; ++c) {
    if (*c == L'&') shown[used++] = L'&';
    shown[used++] = *c;
  }
  shown[used] = L'\0';
  SetWindowTextW(box, shown);
}

void StoreTicks(HWND page) {
  for (unsigned i = 0; i < TaskCount() && i < kTaskBoxCount; ++i)
    SetTaskChosen(i, SendMessageW(Box(page, i), BM_GETCHECK, 0, 0) == BST_CHECKED);
}

}  // namespace

bool ChooseStartingTasks(int* exitCode) {
  ChooseDefaultTasks();
  CommandSwitches switches;
  ParseCommandSwitches(GetCommandLineW(), &switches);
  if (!switches.tasksGiven) {
    if (TaskCount() > 0) LogChosenTasks(L"the package's defaults");
    return true;
  }
  wchar_t unknown[64];
  if (ChooseTaskList(switches.tasks.text, switches.tasks.length, unknown, 64) == TaskListResult::kChosen) {
    LogChosenTasks(L"/TASKS=");
    return true;
  }
  LogLine(L"Error: /TASKS= names %ls, which is no task of this package: nothing is done", unknown);
  ShowTaskUsage(unknown);
  *exitCode = kExitCancelled;
  return false;
}

bool HasTasksPage() { return TaskCount() > 0; }

int TasksPageHandler(UINT event, HWND page, WPARAM param, LPARAM) {
  if (event == KX_EVENT_CREATED) {
    for (unsigned i = 0; i < kTaskBoxCount; ++i) {
      HWND box = Box(page, i);
      if (!box) continue;
      if (i >= TaskCount()) {
        ShowWindow(box, SW_HIDE);
        continue;
      }
      SetBoxText(box, DeclarationAt(g_declarations, kxformat::kDeclTask, i).fields[kxformat::kTaskDescription]);
      SendMessageW(box, BM_SETCHECK, TaskChosenAt(i) ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    if (g_pageCounter == 0) EnableWindow(KXDlgGetDlgItem(page, kControlBack), FALSE);
    return KX_PAGE_STAY;
  }
  if (event == KX_EVENT_ENTER) {
    StoreTicks(page);
    return KX_PAGE_NEXT;
  }
  if (event != KX_EVENT_COMMAND) return KX_PAGE_STAY;
  switch (param) {
    case kControlNext:
      StoreTicks(page);
      LogChosenTasks(L"the tasks page");
      return KX_PAGE_NEXT;
    case kControlBack:
      StoreTicks(page);
      return KX_PAGE_BACK;
    default:
      return PageButtonResult(param);
  }
}

void RecordChosenTasks() {
  if (TaskCount() == 0) return;
  wchar_t list[kTaskListCapacity];
  if (!ChosenTaskList(list, kTaskListCapacity)) return;
  const wchar_t* key = g_package.uninstallRegistryKey;
  // What the value held before comes back if the installation fails.
  if (!RecordRegistryValue(ScopeRootKey(), key, kChosenTasksValue)) return;
  if (RegSetKeyValueW(ScopeRootKey(), key, kChosenTasksValue, REG_SZ, list,
                      static_cast<DWORD>((wcslen(list) + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
    return;
  wchar_t record[kUninstallRegistryKeyCapacity + 64];
  _snwprintf(record, sizeof record / sizeof record[0] - 1, L"\"%ls\\%ls\" \"%ls\"", ScopeRootName(), key,
             kChosenTasksValue);
  record[sizeof record / sizeof record[0] - 1] = L'\0';
  AddUninstLog(KX_LOG_REGVALUE, record);
}
