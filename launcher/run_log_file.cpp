#include "launcher/run_log_file.h"

#include <windows.h>
#include <wchar.h>

#include "base/handle_guard.h"
#include "base/journal_format.h"
#include "base/package_format.h"

namespace {

constexpr size_t kPathCapacity = 1024;

// The path with "." and ".." resolved and, where the file exists, its long
// names; empty when it does not fit.
void LongPath(const wchar_t* path, wchar_t* out) {
  wchar_t full[kPathCapacity];
  DWORD length = GetFullPathNameW(path, kPathCapacity, full, nullptr);
  if (length == 0 || length >= kPathCapacity) {
    out[0] = L'\0';
    return;
  }
  length = GetLongPathNameW(full, out, kPathCapacity);
  if (length == 0 || length >= kPathCapacity) wcscpy(out, full);
}

bool SameText(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The file's volume and index, when it exists.
bool FileIdentity(const wchar_t* path, BY_HANDLE_FILE_INFORMATION* identity) {
  FileHandle file(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file && GetFileInformationByHandle(file.get(), identity);
}

// True when both paths name one file: the same path, or two names (a short
// name, a hard link) of one existing file.
bool SameFile(const wchar_t* a, const wchar_t* b) {
  wchar_t longA[kPathCapacity];
  wchar_t longB[kPathCapacity];
  LongPath(a, longA);
  LongPath(b, longB);
  if (longA[0] && SameText(longA, longB)) return true;
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return FileIdentity(a, &first) && FileIdentity(b, &second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

const wchar_t* FileName(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p)
    if (*p == L'\\' || *p == L'/') name = p + 1;
  return name;
}

}  // namespace

RunLogFileVerdict JudgeRunLogFile(const wchar_t* log, const wchar_t* program, bool uninstaller) {
  if (SameFile(log, program)) return RunLogFileVerdict::kProgram;
  if (uninstaller) {
    // The uninstall log the uninstaller reads: its own name with ".dat".
    wchar_t uninstallLog[kPathCapacity];
    const size_t length = wcslen(program);
    const wchar_t* dot = wcsrchr(FileName(program), L'.');
    const size_t stem = dot ? static_cast<size_t>(dot - program) : length;
    if (stem + 5 <= kPathCapacity) {
      wmemcpy(uninstallLog, program, stem);
      wcscpy(uninstallLog + stem, L".dat");
      if (SameFile(log, uninstallLog)) return RunLogFileVerdict::kUninstallLog;
    }
  }
  wchar_t longLog[kPathCapacity];
  LongPath(log, longLog);
  const wchar_t* name = FileName(longLog[0] ? longLog : log);
  if (SameText(name, kxformat::kInstalledUninstallLogW)) return RunLogFileVerdict::kUninstallLog;
  if (SameText(name, kxformat::kInstalledUninstallerW)) return RunLogFileVerdict::kUninstaller;
  if (SameText(name, kJournalFileName)) return RunLogFileVerdict::kInstallJournal;
  return RunLogFileVerdict::kAllowed;
}
