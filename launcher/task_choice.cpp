#include "launcher/task_choice.h"

#include <wchar.h>

#include "launcher/package_declarations.h"

namespace {

// Room for every task the package data can declare.
constexpr unsigned kTaskCapacity = 8;
static_assert(kTaskCapacity == 8, "kDeclTables gives [[task]] 8 entries");

bool g_chosen[kTaskCapacity];

const wchar_t* TaskName(unsigned index) {
  return DeclarationAt(g_declarations, kxformat::kDeclTask, index).fields[kxformat::kTaskName];
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The index of the task named by text[0..length), or TaskCount() for none.
unsigned FindTask(const wchar_t* text, size_t length) {
  for (unsigned i = 0; i < TaskCount(); ++i) {
    const wchar_t* name = TaskName(i);
    if (wcslen(name) == length && _wcsnicmp(name, text, length) == 0) return i;
  }
  return TaskCount();
}

}  // namespace

unsigned TaskCount() {
  const unsigned count = DeclarationCount(g_declarations, kxformat::kDeclTask);
  return count < kTaskCapacity ? count : kTaskCapacity;
}

void ChooseDefaultTasks() {
  for (unsigned i = 0; i < kTaskCapacity; ++i)
    g_chosen[i] = i < TaskCount() &&
                  wcscmp(DeclarationAt(g_declarations, kxformat::kDeclTask, i).fields[kxformat::kTaskDefault], L"1") == 0;
}

bool TaskChosenAt(unsigned index) { return index < kTaskCapacity && g_chosen[index]; }

void SetTaskChosen(unsigned index, bool chosen) {
  if (index < kTaskCapacity) g_chosen[index] = chosen;
}

bool TaskNameChosen(const wchar_t* name) {
  if (!name || !name[0]) return true;
  const unsigned index = FindTask(name, wcslen(name));
  return index < TaskCount() && g_chosen[index];
}

TaskListResult ChooseTaskList(const wchar_t* list, size_t length, wchar_t* unknown, size_t unknownCapacity) {
  bool chosen[kTaskCapacity] = {};
  for (size_t start = 0; start < length;) {
    size_t end = start;
    while (end < length && list[end] != L',') ++end;
    size_t first = start, last = end;
    while (first < last && IsBlank(list[first])) ++first;
    while (last > first && IsBlank(list[last - 1])) --last;
    // "a,,b" or a trailing comma names nothing more.
    if (last > first) {
      const unsigned index = FindTask(list + first, last - first);
      if (index == TaskCount()) {
        if (unknownCapacity > 0) {
          const size_t copied = last - first < unknownCapacity - 1 ? last - first : unknownCapacity - 1;
          wmemcpy(unknown, list + first, copied);
          unknown[copied] = L'\0';
        }
        return TaskListResult::kUnknownName;
      }
      chosen[index] = true;
    }
    start = end + 1;
  }
  for (unsigned i = 0; i < kTaskCapacity; ++i) g_chosen[i] = chosen[i];
  return TaskListResult::kChosen;
}

bool ChosenTaskList(wchar_t* out, size_t capacity) {
  if (capacity == 0) return false;
  size_t used = 0;
  out[0] = L'\0';
  for (unsigned i = 0; i < TaskCount(); ++i) {
    if (!g_chosen[i]) continue;
    const wchar_t* name = TaskName(i);
    const size_t length = wcslen(name);
    const size_t comma = used > 0 ? 1 : 0;
    if (used + comma + length + 1 > capacity) return false;
    if (comma) out[used++] = L',';
    wmemcpy(out + used, name, length);
    used += length;
    out[used] = L'\0';
  }
  return true;
}

void ChooseRecordedTasks(HKEY root, const wchar_t* key) {
  ChooseDefaultTasks();
  wchar_t recorded[kTaskListCapacity];
  DWORD size = sizeof recorded;
  if (RegGetValueW(root, key, kChosenTasksValue, RRF_RT_REG_SZ, nullptr, recorded, &size) != ERROR_SUCCESS) return;
  wchar_t unknown[40];
  // A name this package no longer declares cannot be the uninstaller's own
  // installation's: the defaults stay then.
  ChooseTaskList(recorded, wcslen(recorded), unknown, 40);
}
