// The uninstaller's flow and its start-up difference.
#ifndef KX_UNINSTALL_UNINSTALL_FLOW_H
#define KX_UNINSTALL_UNINSTALL_FLOW_H

// Asks the core library whether to run the uninstall; when it is to run,
// schedules the program's own file for deletion at the next restart.
bool PrepareUninstall();

// Runs the uninstall; the result is the uninstaller's exit code.
int RunUninstall();

#endif
