#include "launcher/install_scope.h"

#include <shlobj.h>
#include <string.h>
#include <wchar.h>

#include "base/handle_guard.h"
#include "base/package_format.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "launcher/literal_text.h"
#include "launcher/package_data.h"
#include "launcher/script_flags.h"

namespace {

// Spelled out, as the core library does, instead of bringing in libuuid's table.
constexpr KNOWNFOLDERID kUserProgramFilesFolder = {
    0x5cd7aee2, 0x2219, 0x4a67, {0xb8, 0x5d, 0x6c, 0x9c, 0xe1, 0x56, 0x60, 0xcb}};
constexpr KNOWNFOLDERID kUserProgramsFolder = {0xa77f5d77, 0x2e2b, 0x44c3, {0xa6, 0xa2, 0xab, 0xa6, 0x01, 0x05, 0x4a, 0x51}};
constexpr KNOWNFOLDERID kUserDesktopFolder = {0xb4bfcc3a, 0xdb2c, 0x424c, {0xb0, 0x29, 0x7f, 0xe9, 0x9a, 0x87, 0xc6, 0x41}};
constexpr KNOWNFOLDERID kLocalAppDataFolder = {0xf1b32785, 0x6fba, 0x4fcf, {0x9d, 0x55, 0x7b, 0x8e, 0x7f, 0x15, 0x70, 0x91}};
constexpr KNOWNFOLDERID kPublicDesktopFolder = {
    0xc4aa340d, 0xf20f, 0x4863, {0xaf, 0xef, 0xf8, 0x7e, 0xf2, 0xe6, 0xba, 0x25}};

// Sets variable to the known folder; false when the system has none.
bool SetKnownFolder(const wchar_t* variable, REFKNOWNFOLDERID id, DWORD flags) {
  PWSTR path = nullptr;
  bool found = SUCCEEDED(SHGetKnownFolderPath(id, flags, nullptr, &path)) && path && path[0];
  // A folder's name is taken literally: "50% off" is no variable.
  if (found) found = SetVarLiteral(variable, path);
  CoTaskMemFree(path);
  if (!found) LogLine(L"Error: the folder for %ls cannot be found", variable);
  return found;
}

// The user's programs folder. Windows defines it as "Programs" in the
// user's local application data; systems that do not know its id (Wine) get
// that folder, made as Windows makes it on first use.
bool SetUserProgramFiles() {
  PWSTR path = nullptr;
  if (SUCCEEDED(SHGetKnownFolderPath(kUserProgramFilesFolder, KF_FLAG_CREATE, nullptr, &path)) && path && path[0]) {
    const bool set = SetVarLiteral(L"PROGFILESDIR", path);
    CoTaskMemFree(path);
    return set;
  }
  CoTaskMemFree(path);
  path = nullptr;
  wchar_t folder[MAX_PATH + 16];
  bool found = SUCCEEDED(SHGetKnownFolderPath(kLocalAppDataFolder, 0, nullptr, &path)) && path && path[0] &&
               wcslen(path) < MAX_PATH;
  if (found) {
    wcscpy(folder, path);
    wcscat(folder, L"\\Programs");
    found = (CreateDirectoryW(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) &&
            SetVarLiteral(L"PROGFILESDIR", folder);
  }
  CoTaskMemFree(path);
  if (!found) LogLine(L"Error: the folder for PROGFILESDIR cannot be found");
  return found;
}

// The run's scope once decided (a package that offers both); the
// uninstaller's is the installation's, decided before InitSFX.
bool g_scopeDecided = false;
bool g_installationScope = false;
InstallScope g_scope = InstallScope::kAllUsers;

// The all-users folders as the core library set them, kept when a
// current-user scope re-points them, so that a changed choice gets them back.
constexpr size_t kFolderCapacity = 1024;
wchar_t g_machineProgramFiles[kFolderCapacity];
wchar_t g_machinePrograms[kFolderCapacity];
bool g_machineFoldersKept = false;

void KeepMachineFolders() {
  g_machineFoldersKept = true;
  const int programFiles = EvalVarBuf(L"%PROGFILESDIR%", g_machineProgramFiles, sizeof g_machineProgramFiles);
  const int programs = EvalVarBuf(L"%COMPROGMENUDIR%", g_machinePrograms, sizeof g_machinePrograms);
  if (programFiles < 0 || static_cast<size_t>(programFiles) >= kFolderCapacity) g_machineProgramFiles[0] = L'\0';
  if (programs < 0 || static_cast<size_t>(programs) >= kFolderCapacity) g_machinePrograms[0] = L'\0';
}

// The uninstall entry's UninstallString under root names path.
bool EntryNames(HKEY root, const wchar_t* uninstallKey, const wchar_t* path) {
  wchar_t value[kFolderCapacity];
  DWORD size = sizeof value - sizeof(wchar_t);
  if (RegGetValueW(root, uninstallKey, L"UninstallString", RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return false;
  value[kFolderCapacity - 1] = L'\0';
  // Written unquoted by setup; a quoted one is read the same.
  wchar_t* text = value;
  size_t length = wcslen(text);
  if (length >= 2 && text[0] == L'"' && text[length - 1] == L'"') {
    text[length - 1] = L'\0';
    ++text;
  }
  return CompareStringOrdinal(text, -1, path, -1, TRUE) == CSTR_EQUAL;
}

// The uninstall log beside the uninstaller names the machine's hive: its
// installation was for all users (a current-user log never may).
bool LogNamesMachine(const wchar_t* path) {
  wchar_t log[kFolderCapacity];
  const size_t length = wcslen(path);
  if (length >= kFolderCapacity - 16) return false;
  wcscpy(log, path);
  wchar_t* slash = wcsrchr(log, L'\\');
  if (!slash) return false;
  wcscpy(slash + 1, kxformat::kInstalledUninstallLogW);
  FileHandle file(CreateFileW(log, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  static const char kMachine[] = "HKEY_LOCAL_MACHINE\\";
  const size_t needle = sizeof kMachine - 1;
  char buffer[64 * 1024 + sizeof kMachine];
  size_t kept = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer + kept, 64 * 1024, &read, nullptr) || read == 0) return false;
    const size_t filled = kept + read;
    for (size_t i = 0; i + needle <= filled; ++i)
      if (memcmp(buffer + i, kMachine, needle) == 0) return true;
    // The last bytes may start the text the next read completes.
    kept = filled < needle ? filled : needle - 1;
    memmove(buffer, buffer + filled - kept, kept);
  }
}

}  // namespace

bool PackageOffersBothScopes() { return g_package.scope.scope == PackageScope::kChoice; }

InstallScope RunScope() {
  if (PackageOffersBothScopes() && g_scopeDecided) return g_scope;
  return g_package.scope.scope == PackageScope::kCurrentUser ? InstallScope::kCurrentUser
                                                                    : InstallScope::kAllUsers;
}

InstallScope InstalledScopeOf(const wchar_t* path, const wchar_t* uninstallKey) {
  if (EntryNames(HKEY_LOCAL_MACHINE, uninstallKey, path)) return InstallScope::kAllUsers;
  if (EntryNames(HKEY_CURRENT_USER, uninstallKey, path)) return InstallScope::kCurrentUser;
  return LogNamesMachine(path) ? InstallScope::kAllUsers : InstallScope::kCurrentUser;
}

bool RegisteredInScope(InstallScope scope) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(scope == InstallScope::kAllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                    g_package.uninstallRegistryKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void PublishPackageScope(bool uninstaller, const wchar_t* path) {
  if (!PackageOffersBothScopes()) {
    SetVar(L"KXPACKAGESCOPE", g_package.scope.scope == PackageScope::kCurrentUser ? L"current_user" : L"all_users");
    return;
  }
  if (!uninstaller) {
    SetVar(L"KXPACKAGESCOPE", L"both");
    return;
  }
  g_scope = InstalledScopeOf(path, g_package.uninstallRegistryKey);
  g_scopeDecided = true;
  g_installationScope = true;
  SetVar(L"KXPACKAGESCOPE", g_scope == InstallScope::kAllUsers ? L"all_users" : L"current_user");
}

bool MayInstallForAllUsers() { return FlagIsSet(L"%ISADMIN%"); }

HKEY ScopeRootKey() { return RunScope() == InstallScope::kCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

const wchar_t* ScopeRootName() {
  return RunScope() == InstallScope::kCurrentUser ? L"HKEY_CURRENT_USER" : L"HKEY_LOCAL_MACHINE";
}

namespace {

bool ApplyScopeVariables() {
  SetVar(L"KXUNINSTREGROOT", ScopeRootName());
  if (RunScope() == InstallScope::kAllUsers) {
    // Set back after a current-user choice; taken literally, as found.
    if (g_machineFoldersKept && g_machineProgramFiles[0]) SetVarLiteral(L"PROGFILESDIR", g_machineProgramFiles);
    if (g_machineFoldersKept && g_machinePrograms[0]) SetVarLiteral(L"COMPROGMENUDIR", g_machinePrograms);
    SetVar(L"KXSCOPE", L"allusers");
    if (PackageOffersBothScopes()) LogLine(L"Installing for all users");
    SetVar(L"KXSTARTMENUROOT", L"%COMPROGMENUDIR%");
    // Only a shortcut on the desktop needs it; that shortcut then fails alone.
    SetKnownFolder(L"KXDESKTOPDIR", kPublicDesktopFolder, 0);
    return true;
  }
  SetVar(L"KXSCOPE", L"currentuser");
  LogLine(L"Installing for the current user only");
  // The user's programs folder does not exist until something is
  // installed into it.
  if (!SetUserProgramFiles() ||
      !SetKnownFolder(L"COMPROGMENUDIR", kUserProgramsFolder, 0))
    return false;
  SetVar(L"KXSTARTMENUROOT", L"%COMPROGMENUDIR%");
  SetKnownFolder(L"KXDESKTOPDIR", kUserDesktopFolder, 0);
  return true;
}

// The setup scope of a package that offers both, before any page.
InstallScope FirstScope() {
  const wchar_t* given = EvalVar(L"%KXSCOPESWITCH%");
  if (wcscmp(given, L"allusers") == 0) return InstallScope::kAllUsers;
  if (wcscmp(given, L"currentuser") == 0) return InstallScope::kCurrentUser;
  if (RegisteredInScope(InstallScope::kAllUsers)) return InstallScope::kAllUsers;
  if (RegisteredInScope(InstallScope::kCurrentUser)) return InstallScope::kCurrentUser;
  return MayInstallForAllUsers() ? InstallScope::kAllUsers : InstallScope::kCurrentUser;
}

}  // namespace

bool ApplyRunScope() {
  // Right after InitSFX: the folders are the core library's own.
  KeepMachineFolders();
  if (PackageOffersBothScopes() && !g_installationScope) {
    g_scope = FirstScope();
    g_scopeDecided = true;
  }
  return ApplyScopeVariables();
}

bool ChooseRunScope(InstallScope scope) {
  g_scope = scope;
  g_scopeDecided = true;
  return ApplyScopeVariables();
}
