#include "base/path_services.h"

#include <wchar.h>

#include "base/entry_names.h"
#include "base/handle_guard.h"
#include "base/long_path.h"
#include "base/name_rules.h"
#include "base/run_log.h"

bool IsFile(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(Win32Path(path).get());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void MakeWritable(const wchar_t* path) {
  Win32Path name(path);
  DWORD attributes = GetFileAttributesW(name.get());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(name.get(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

// The session manager takes the prefixed form of a long path as it takes any
// other ("\??\" in PendingFileRenameOperations).
bool DeleteAtRestart(const wchar_t* path) {
  return MoveFileExW(Win32Path(path).get(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool PathExists(const wchar_t* path) {
  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileW(Win32Path(path).get(), &found));
  return search.valid();
}

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool Exists(const wchar_t* path) { return GetFileAttributesW(Win32Path(path).get()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

DWORD CreateLoggedFolder(const wchar_t* path) {
  if (!CreateDirectoryW(Win32Path(path).get(), nullptr)) {
    DWORD error = GetLastError();
    wchar_t reason[256];
    SystemErrorText(error, reason, sizeof(reason) / sizeof(reason[0]));
    LogLine(L"Error %lu: the folder %ls could not be created: %ls", error, path, reason);
    return error;
  }
  LogLine(L"Folder created: %ls", path);
  return 0;
}

DWORD CreateFolderPath(const wchar_t* path, FolderCreator create) {
  if (!create) create = CreateLoggedFolder;
  size_t length = wcslen(path);
  if (length >= kFolderPathCapacity) return ERROR_FILENAME_EXCED_RANGE;
  // A level no file system takes is refused before any level is made, so
  // that a refused path leaves no folders behind.
  size_t level = 0;
  for (size_t i = 0; i < length; ++i) {
    level = IsSeparator(path[i]) ? 0 : level + 1;
    if (level > kxnames::kMaxNameUnits) return ERROR_FILENAME_EXCED_RANGE;
  }
  LongPathBuffer copy;
  wchar_t* folder = copy.data();
  if (!folder) return ERROR_NOT_ENOUGH_MEMORY;
  wmemcpy(folder, path, length + 1);
  if (length > 0 && folder[length - 1] == L'/') folder[--length] = L'\0';

  for (size_t i = 0; i < length; ++i) {
    if (!IsSeparator(folder[i])) continue;
    // A leading separator or a doubled one has no folder in front of it.
    if (i == 0 || IsSeparator(folder[i - 1])) {
      folder[i] = L'\\';
      continue;
    }
    folder[i] = L'\0';
    if (!Exists(folder)) create(folder);
    folder[i] = L'\\';
  }

  if (!Exists(folder)) return create(folder);
  return 0;
}

void StripLastPathComponent(wchar_t* path) {
  wchar_t* cut = wcsrchr(path, L'\\');
  if (!cut) cut = wcsrchr(path, L'/');
  if (!cut) {
    cut = wcsrchr(path, L':');
    if (cut) ++cut;
  }
  if (cut)
    *cut = L'\0';
  else
    path[0] = L'\0';
}

// The checks themselves are portable (base/entry_names.h) so that the fuzz
// targets run them; wchar_t is UTF-16 on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t holds UTF-16 units");

bool IsEntryNameSeparator(wchar_t c) { return kxentry::IsEntryNameSeparator(static_cast<char16_t>(c)); }

bool IsContainedEntryName(const wchar_t* name) {
  return kxentry::IsContainedEntryName(reinterpret_cast<const char16_t*>(name));
}

bool IsSafeEntryName(const wchar_t* name) { return kxentry::IsSafeEntryName(reinterpret_cast<const char16_t*>(name)); }

void AddDllSearchFolder(const wchar_t* folder) {
  HMODULE kernel = GetModuleHandleW(L"Kernel32");
  if (!kernel) return;
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
  auto setDllDirectory =
      reinterpret_cast<SetDllDirectoryFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")));
  if (setDllDirectory) setDllDirectory(folder);
}
