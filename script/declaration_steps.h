// The install script's step for the package's declarations, between the
// shortcut and the uninstaller: the system changes (script/declared_effects.h),
// then the programs declared to run after the files, on the progress page
// with the author's text. Everything before the uninstaller is written is
// still undone by the rollback, so a failed change or a waited program that
// fails leaves the machine as it was.
#ifndef KX_SCRIPT_DECLARATION_STEPS_H
#define KX_SCRIPT_DECLARATION_STEPS_H

// Returns 0 to go on; otherwise the failure has been shown (in both modes,
// as a failed installation is) and the caller rolls back and ends with
// kExitDeclarationFailed.
int CarryOutDeclarations();

// After a rollback of the declarations' changes: the running programs and
// the shell are told again.
void AnnounceRolledBackDeclarations();

#endif
