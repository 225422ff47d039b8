// Setup's side of the package's [[shortcut]] tables: each chosen shortcut
// written into the Start-menu folder of the run (SHORTCUTPATH, the one the
// Start-menu page chose) or onto the desktop of the run's scope
// (KXDESKTOPDIR: the public desktop for all users, the user's own for the
// current user). A shortcut of that name from before is kept aside by the
// install journal and comes back when the installation is undone; each new
// one is recorded in the journal and in the uninstall log as a file.
//
// A package that declares no [[shortcut]] gets the one Start-menu shortcut
// of [install] instead (script/install_script.cpp), as it always has.
#ifndef KX_SCRIPT_DECLARED_SHORTCUTS_H
#define KX_SCRIPT_DECLARED_SHORTCUTS_H

#include <windows.h>

#include "launcher/package_declarations.h"

// True when the package declares [[shortcut]] tables (chosen or not).
bool HasDeclaredShortcuts(const PackageDeclarations& declarations);

// Writes every shortcut whose task was chosen, for an installation in
// folder (full, without a trailing backslash). COM must be initialised.
// Returns 0, or the Windows error code (an HRESULT's code) of the first
// shortcut that could not be written: the installation is then undone.
DWORD CreateDeclaredShortcuts(const PackageDeclarations& declarations, const wchar_t* folder);

#endif
