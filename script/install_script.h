// The package's install script: the wizard, the extraction, the shortcut,
// the uninstall registration and the final tasks.
#ifndef KX_SCRIPT_INSTALL_SCRIPT_H
#define KX_SCRIPT_INSTALL_SCRIPT_H

// Runs the whole installation; the result is the setup program's exit code.
int RunInstallScript();

#endif
