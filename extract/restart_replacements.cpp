#include "extract/restart_replacements.h"

#include <stdio.h>
#include <wchar.h>

#include "base/long_path.h"
#include "base/restart_operations.h"
#include "extract/install_journal.h"

namespace {

// Room for a destination path (782 units) and a name beside it. A file held
// open at a longer path gets the create-file box instead of a replacement.
constexpr size_t kReplacementPathCapacity = 800;
// More files held open than this in one run are refused like before: the
// create-file box, or the run's failure.
constexpr size_t kReplacementCapacity = 256;
constexpr unsigned kNameAttempts = 4096;

struct Replacement {
  wchar_t path[kReplacementPathCapacity];
  wchar_t replacement[kReplacementPathCapacity];
};

struct Replacements {
  bool enabled = false;
  size_t count = 0;
  unsigned nextName = 0;
  Replacement entries[kReplacementCapacity];
};
Replacements g_replacements;

HANDLE Fail(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

void EnableRestartReplacements(bool enabled) {
  g_replacements.enabled = enabled;
  g_replacements.count = 0;
  // Names start at a number of this process, so that names of another run
  // (killed before its recovery) are practically never met; a taken one is
  // passed over.
  g_replacements.nextName = GetCurrentProcessId() << 12;
}

bool RestartReplacementsEnabled() { return g_replacements.enabled; }

bool IsFileInUseError(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

HANDLE OpenRestartReplacement(const wchar_t* path) {
  if (!g_replacements.enabled) return Fail(ERROR_SHARING_VIOLATION);
  if (g_replacements.count == kReplacementCapacity) return Fail(ERROR_SHARING_VIOLATION);
  Replacement& entry = g_replacements.entries[g_replacements.count];
  const size_t length = wcslen(path);
  const wchar_t* slash = wcsrchr(path, L'\\');
  if (!slash || length >= kReplacementPathCapacity) return Fail(ERROR_FILENAME_EXCED_RANGE);
  const size_t folderLength = static_cast<size_t>(slash - path) + 1;
  if (folderLength + 17 >= kReplacementPathCapacity) return Fail(ERROR_FILENAME_EXCED_RANGE);
  wcscpy(entry.path, path);
  for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
    wmemcpy(entry.replacement, path, folderLength);
    _snwprintf(entry.replacement + folderLength, 17, L"~kxr%08X.new", g_replacements.nextName++);
    entry.replacement[folderLength + 16] = L'\0';
    DWORD intent = RecordFileToCreate(entry.replacement);
    if (intent != 0) return Fail(intent);
    HANDLE file = CreateFileW(Win32Path(entry.replacement).get(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return Fail(error);
    }
    if (!RecordCreatedFile(entry.replacement)) {
      CloseHandle(file);
      DeleteFileW(Win32Path(entry.replacement).get());
      return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    ++g_replacements.count;
    return file;
  }
  return Fail(ERROR_FILE_EXISTS);
}

void ForgetRestartReplacement(const wchar_t* path) {
  if (g_replacements.count > 0 && wcscmp(g_replacements.entries[g_replacements.count - 1].path, path) == 0)
    --g_replacements.count;
}

size_t RestartReplacementCount() { return g_replacements.count; }

bool RestartReplacementAt(size_t index, const wchar_t** path, const wchar_t** replacement) {
  if (index >= g_replacements.count) return false;
  *path = g_replacements.entries[index].path;
  *replacement = g_replacements.entries[index].replacement;
  return true;
}

DWORD ScheduleRestartReplacements(const wchar_t* renameList, const wchar_t** failedPath) {
  for (size_t i = 0; i < g_replacements.count; ++i) {
    const Replacement& entry = g_replacements.entries[i];
    if (!MoveFileOnRestart(entry.replacement, entry.path, renameList)) {
      DWORD error = GetLastError();
      *failedPath = entry.path;
      return error ? error : ERROR_ACCESS_DENIED;
    }
  }
  return 0;
}
