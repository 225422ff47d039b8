#include "script/declared_shortcuts.h"

#include <stdio.h>
#include <wchar.h>

#include "base/declaration_rules.h"
#include "base/path_services.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "extract/extraction.h"
#include "extract/folder_creation.h"
#include "extract/install_journal.h"
#include "launcher/declared_records.h"
#include "script/shortcut.h"

namespace {

// A full path of a shortcut or a payload file: the installation folder or
// the Start-menu folder (at most 259 units) and a name or path of 259.
constexpr size_t kLinkCapacity = kDeclExpandedCapacity;

wchar_t g_link[kLinkCapacity];
wchar_t g_place[kLinkCapacity];
wchar_t g_target[kLinkCapacity];
wchar_t g_arguments[kDeclExpandedCapacity];
wchar_t g_workingFolder[kLinkCapacity];
wchar_t g_icon[kLinkCapacity];

bool IsDesktop(const DeclEntry& entry) {
  return _wcsicmp(entry.fields[kxformat::kShortcutLocation], L"desktop") == 0;
}

// The folder the shortcut goes into, made when it is missing: the Start-menu
// folder as every folder the installation makes (journalled, and logged so
// that the uninstaller removes it when it is left empty); the desktop, a
// folder of Windows, never logged. 0 or the Windows error code.
DWORD PrepareShortcutFolder(bool desktop) {
  const int length =
      EvalVarBuf(desktop ? L"%KXDESKTOPDIR%" : L"%SHORTCUTPATH%", g_place, static_cast<int>(sizeof g_place));
  if (length < 0 || static_cast<size_t>(length) >= kLinkCapacity) return ERROR_FILENAME_EXCED_RANGE;
  // No desktop known to Windows: no shortcut can go there.
  if (length == 0 || wcscmp(g_place, L"%KXDESKTOPDIR%") == 0) return ERROR_PATH_NOT_FOUND;
  while (wcslen(g_place) > 3 && g_place[wcslen(g_place) - 1] == L'\\') g_place[wcslen(g_place) - 1] = L'\0';
  if (DirectoryExists(g_place)) return 0;
  if (desktop) return CreateDirectoryW(g_place, nullptr) ? 0 : GetLastError();
  const DWORD error = CreateInstallFolderPath(g_place);
  if (error == 0) AddUninstLog(KX_LOG_FOLDER, g_place);
  return error;
}

// The shortcut's texts for an installation in folder; false when one does
// not fit.
bool ShortcutTexts(const DeclEntry& entry, const wchar_t* folder, int* iconIndex) {
  const int written =
      _snwprintf(g_link, kLinkCapacity, L"%ls\\%ls.lnk", g_place, entry.fields[kxformat::kShortcutName]);
  if (written < 0 || static_cast<size_t>(written) >= kLinkCapacity) return false;
  if (!PayloadPath(folder, entry.fields[kxformat::kShortcutTarget], g_target, kLinkCapacity)) return false;
  if (!ExpandInstallFolder(entry.fields[kxformat::kShortcutArguments], folder, g_arguments, kDeclExpandedCapacity))
    return false;
  // Without a working folder of its own the program starts in its own
  // folder, as a shortcut Explorer makes would.
  if (entry.given[kxformat::kShortcutWorkingFolder]) {
    if (!PayloadPath(folder, entry.fields[kxformat::kShortcutWorkingFolder], g_workingFolder, kLinkCapacity))
      return false;
  } else {
    wcscpy(g_workingFolder, g_target);
    StripLastPathComponent(g_workingFolder);
  }
  const wchar_t* icon = entry.given[kxformat::kShortcutIcon] ? entry.fields[kxformat::kShortcutIcon]
                                                              : entry.fields[kxformat::kShortcutTarget];
  if (!PayloadPath(folder, icon, g_icon, kLinkCapacity)) return false;
  const wchar_t* index = entry.fields[kxformat::kShortcutIconIndex];
  *iconIndex = entry.given[kxformat::kShortcutIconIndex]
                   ? static_cast<int>(kxdecl::DecimalValue(reinterpret_cast<const char16_t*>(index), wcslen(index)))
                   : 0;
  return true;
}

DWORD CreateOneShortcut(const DeclEntry& entry, const wchar_t* folder) {
  const bool desktop = IsDesktop(entry);
  DWORD error = PrepareShortcutFolder(desktop);
  if (error != 0) return error;
  int iconIndex = 0;
  if (!ShortcutTexts(entry, folder, &iconIndex)) return ERROR_FILENAME_EXCED_RANGE;
  // A shortcut of that name from before comes back if the installation
  // fails.
  error = KeepFileAside(g_link);
  if (error != 0) return error;
  HRESULT saved = SaveShortcut(g_target, g_arguments, g_link, entry.fields[kxformat::kShortcutDescription],
                               SW_SHOWNORMAL, g_workingFolder, g_icon, iconIndex);
  if (SUCCEEDED(saved) && !RecordCreatedFile(g_link)) saved = E_OUTOFMEMORY;
  if (FAILED(saved)) {
    PutBackKeptFile(g_link);
    LogLine(L"Error 0x%08lX: the shortcut %ls could not be created", static_cast<unsigned long>(saved), g_link);
    return HRESULT_FACILITY(saved) == FACILITY_WIN32 ? HRESULT_CODE(saved) : static_cast<DWORD>(saved);
  }
  AddUninstLog(KX_LOG_FILE, g_link);
  LogLine(L"Shortcut created: %ls", g_link);
  return 0;
}

}  // namespace

bool HasDeclaredShortcuts(const PackageDeclarations& declarations) {
  return DeclarationCount(declarations, kxformat::kDeclShortcut) > 0;
}

DWORD CreateDeclaredShortcuts(const PackageDeclarations& declarations, const wchar_t* folder) {
  for (unsigned i = 0; i < DeclarationCount(declarations, kxformat::kDeclShortcut); ++i) {
    const DeclEntry& entry = DeclarationAt(declarations, kxformat::kDeclShortcut, i);
    if (!DeclarationChosen(entry, kxformat::kShortcutTask)) continue;
    const DWORD error = CreateOneShortcut(entry, folder);
    if (error != 0) return error;
  }
  return 0;
}
