// What the setup program does once the product is installed.
#ifndef KX_SCRIPT_POST_INSTALL_TASKS_H
#define KX_SCRIPT_POST_INSTALL_TASKS_H

// Makes the destination folder the current directory, starts the installed
// program (which inherits it) and opens the folder in the shell. Failures are
// not reported: the installation is complete either way.
void RunPostInstallTasks();

#endif
