// Where the programs take DLLs from. A setup program is started from a
// Downloads folder and an uninstaller from a folder its user may write to;
// a DLL someone put beside either must never run inside the elevated
// process. So the programs import statically only DLLs that Windows always
// takes from the system folder (its KnownDLLs), every other system DLL is
// loaded from the system folder alone, and the core library by its full path
// in the runtime folder.
#ifndef KX_BASE_SYSTEM_LIBRARIES_H
#define KX_BASE_SYSTEM_LIBRARIES_H

#include <windows.h>

// Exception raised when a delay-loaded system DLL cannot be loaded from the
// system folder (the value the delay-load helper uses for a missing module).
constexpr DWORD kSystemLibraryMissing = 0xC06D007EUL;

// Makes the system folder the only default DLL search location of the
// process (SetDefaultDllDirectories, looked up at run time: Windows 7
// without update KB2533623 lacks it). Call it before anything else. Returns
// false where the call is missing; LoadSystemLibrary then falls back to full
// paths.
bool RestrictDllSearchToSystemFolder();

// Loads a system DLL by its bare name from the system folder only, or from
// where the process's activation context redirects the name (the version 6
// common controls). Null on failure, with the loader's last error.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Loads a DLL by its full path; the DLLs it imports come from the system
// folder only (on Windows without the search flags, from the standard order
// with the DLL's own folder in place of the program's).
HMODULE LoadLibraryAtPath(const wchar_t* path);

#endif
