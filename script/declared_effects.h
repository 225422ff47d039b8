// Setup's side of the package's declarations: registry values, environment
// variables, PATH entries and file associations, carried out once the files
// are in place and before the programs declared to run after them. Every
// change goes through the install journal first (its old value comes back
// when the installation fails or is cancelled) and into the uninstall log
// as the uninstaller undoes it (launcher/declared_records.h).
#ifndef KX_SCRIPT_DECLARED_EFFECTS_H
#define KX_SCRIPT_DECLARED_EFFECTS_H

#include "launcher/declared_records.h"

// Carries out every declaration whose task was chosen, for an installation
// in folder (DESTPATH) in scope. Returns 0, or the Windows error code of the
// first change that could not be made: the installation is then undone.
DWORD ApplyDeclaredEffects(const PackageDeclarations& declarations, const wchar_t* folder, DeclScope scope);

// Tells running programs that the environment changed and the shell that
// file associations did, after the changes and after a rollback of them.
void AnnounceDeclaredChanges(const PackageDeclarations& declarations);

#endif
