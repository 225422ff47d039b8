// Who this run installs for or removes from, and the places that follows:
// all users (Program Files, the all-users Start menu and desktop,
// HKEY_LOCAL_MACHINE) or the current user (the user's programs folder,
// FOLDERID_UserProgramFiles, the user's Start menu and desktop,
// HKEY_CURRENT_USER). Both programs take it from the package's
// install.scope (launcher/package_scope.h); a package that offers both
// leaves it to each run:
//
//   setup        /ALLUSERS or /CURRENTUSER; else the scope an earlier
//                installation of the package is registered in (its uninstall
//                entry under HKEY_LOCAL_MACHINE, then HKEY_CURRENT_USER); else
//                all users for an administrator, the current user for anyone
//                else. The wizard's scope page may change it (ChooseRunScope).
//   uninstaller  the scope of the installation it belongs to: the root of
//                the uninstall entry whose UninstallString names this very
//                uninstaller (the machine's first); without one, all users
//                when its log names HKEY_LOCAL_MACHINE, else the current user.
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

// The run's scope: the package's (all users when its data was not read),
// or the one chosen for a package that offers both.
InstallScope RunScope();

// True when the package offers both scopes (install.scope = "both").
bool PackageOffersBothScopes();

// Before InitSFX: publishes KXPACKAGESCOPE ("all_users", "current_user" or
// "both"; for the uninstaller the installation's scope, decided here, so
// that the language it was installed in is read from the right hive). path:
// the program's own path.
void PublishPackageScope(bool uninstaller, const wchar_t* path);

// The scope an uninstaller at path belongs to (see above). Exposed for tests.
InstallScope InstalledScopeOf(const wchar_t* path, const wchar_t* uninstallKey);

// Where an installation of the package is registered: true when its
// uninstall entry exists in that scope's hive.
bool RegisteredInScope(InstallScope scope);

// HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, and its name as records write it.
HKEY ScopeRootKey();
const wchar_t* ScopeRootName();

// Sets the variables above. Call once the core library has set its own
// (after InitSFX), before the package's folders are judged. False when the
// current user's programs or Start-menu folder cannot be found (the
// programs folder is made when missing): the run cannot know where to
// install. A desktop that cannot be found leaves KXDESKTOPDIR empty.
bool ApplyRunScope();

// A package that offers both: makes scope the run's and sets the variables
// above for it (the all-users folders as the core library found them). The
// same results as ApplyRunScope.
bool ChooseRunScope(InstallScope scope);

// True when the run can install for all users: it has an administrator's
// rights (ISADMIN).
bool MayInstallForAllUsers();

#endif
