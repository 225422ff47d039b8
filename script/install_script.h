// The package's install script: the wizard, the extraction, the shortcut,
// the uninstall registration, the final page and the tasks.
#ifndef KX_SCRIPT_INSTALL_SCRIPT_H
#define KX_SCRIPT_INSTALL_SCRIPT_H

// A final page result the core library may give to abort after the tasks.
constexpr int kFinalPageAbort = -5001;

// Runs the whole installation once; the result is the setup program's exit
// code (base/exit_codes.h): %EXITCODE% read as a decimal number after a
// complete run (0 unless a page changed it), 1 when the payload could not be
// unpacked, 2 when the user cancelled, 3 when a page was aborted, 4 when the
// uninstaller or its log could not be written. A run that fails or is
// cancelled once the extraction has begun is undone (install_rollback.h).
int RunInstallScript();

#endif
