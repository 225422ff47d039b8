// What the setup program does once the product is installed.
#ifndef KX_SCRIPT_POST_INSTALL_TASKS_H
#define KX_SCRIPT_POST_INSTALL_TASKS_H

// Makes the destination folder the current directory, starts the installed
// program (which inherits it) and opens the folder in the shell, each as the
// package's task switches say for an interactive or a silent run. Failures
// are not reported: the installation is complete either way.
void RunPostInstallTasks();

#endif
