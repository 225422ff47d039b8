// Whether a program file made by kxpack could run: setup checks the
// uninstaller its runtime carries (kxremove.dat) before the first page, since
// an installation whose uninstaller cannot start could never be removed.
#ifndef KX_LAUNCHER_PROGRAM_CHECK_H
#define KX_LAUNCHER_PROGRAM_CHECK_H

enum class ProgramCheck {
  kUsable,      // a PE32+ image whose headers the container reader accepts,
                // a container behind it and a runtime archive that opens,
                // holding the core library and the package data
  kMissing,     // no file of that name
  kNotAProgram  // anything else: cut, damaged, not a program of ours
};

// Reads the headers, the container and the runtime archive's index of the
// file at path; nothing is unpacked or written.
ProgramCheck CheckPackagedProgram(const wchar_t* path);

#endif
