// What the uninstaller does once its runtime is unpacked: the uninstall
// flow, run by the program library (program/program_library.cpp).
#ifndef KX_UNINSTALL_UNINSTALL_WORK_H
#define KX_UNINSTALL_UNINSTALL_WORK_H

#include "launcher/launcher_main.h"

extern const ProgramWork kUninstallerProgram;

#endif
