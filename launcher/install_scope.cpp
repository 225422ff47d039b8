#include "launcher/install_scope.h"

#include <shlobj.h>
#include <wchar.h>

#include "base/run_log.h"
#include "core/kxcore.h"
#include "launcher/literal_text.h"
#include "launcher/package_data.h"

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

}  // namespace

InstallScope RunScope() {
  return g_package.scope.scope == PackageScope::kCurrentUser ? InstallScope::kCurrentUser
                                                                    : InstallScope::kAllUsers;
}

HKEY ScopeRootKey() { return RunScope() == InstallScope::kCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

const wchar_t* ScopeRootName() {
  return RunScope() == InstallScope::kCurrentUser ? L"HKEY_CURRENT_USER" : L"HKEY_LOCAL_MACHINE";
}

bool ApplyRunScope() {
  SetVar(L"KXUNINSTREGROOT", ScopeRootName());
  if (RunScope() == InstallScope::kAllUsers) {
    SetVar(L"KXSCOPE", L"allusers");
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
