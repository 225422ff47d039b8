// The uninstaller's side of the package's declarations: what they could
// have made is named to the core library before the log is read (so a
// forged log reaches nothing else), and the programs declared to run before
// the uninstall run first.
#ifndef KX_UNINSTALL_DECLARED_UNINSTALL_H
#define KX_UNINSTALL_DECLARED_UNINSTALL_H

// Hands the core library every record the package's declarations could have
// made for the installation in the uninstaller's folder (AllowUninstallRecord).
void AllowDeclaredRecords();

// Runs the programs declared to run before the uninstall, showing each
// one's text through show (null: none). Returns 0, or kExitDeclarationFailed
// after the message when one failed: nothing is removed then.
int RunProgramsBeforeUninstall(void (*show)(const wchar_t* text));

#endif
