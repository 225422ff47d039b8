// Who this run installs for or removes from, and the places that follows:
// all users (Program Files, the all-users Start menu and desktop,
// HKEY_LOCAL_MACHINE) or the current user (the user's programs folder,
// FOLDERID_UserProgramFiles, the user's Start menu and desktop,
// HKEY_CURRENT_USER). Both programs take it from the package's
// install.scope (launcher/package_scope.h).
//
// For a current-user run ApplyRunScope points the folder variables the
// package's folders are written with at the user's places: %PROGFILESDIR%
// becomes the user's programs folder and %COMPROGMENUDIR% the user's
// Start-menu programs folder, so a description's folders, the Start-menu
// page, the previous installation's records and the uninstaller's limits
// all follow the scope without knowing it. It also sets for every script:
//
//   KXSCOPE           "allusers" or "currentuser"
//   KXUNINSTREGROOT   "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER": the root
//                     of the uninstall entry and of what the scope may touch
//   KXDESKTOPDIR      the scope's desktop (the public one for all users)
//   KXSTARTMENUROOT   the scope's Start-menu programs folder
#ifndef KX_LAUNCHER_INSTALL_SCOPE_H
#define KX_LAUNCHER_INSTALL_SCOPE_H

#include <windows.h>

enum class InstallScope { kAllUsers, kCurrentUser };

// The run's scope: the package's (all users when its data was not read).
InstallScope RunScope();

// HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, and its name as records write it.
HKEY ScopeRootKey();
const wchar_t* ScopeRootName();

// Sets the variables above. Call once the core library has set its own
// (after InitSFX), before the package's folders are judged. False when the
// current user's programs or Start-menu folder cannot be found (the
// programs folder is made when missing): the run cannot know where to
// install. A desktop that cannot be found leaves KXDESKTOPDIR empty.
bool ApplyRunScope();

#endif
