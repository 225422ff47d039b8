// What the setup program does once its runtime is unpacked: the install
// script, run by the program library (program/program_library.cpp).
#ifndef KX_SCRIPT_SETUP_WORK_H
#define KX_SCRIPT_SETUP_WORK_H

#include "launcher/launcher_main.h"

extern const ProgramWork kSetupProgram;

#endif
