// Folders an installation creates: each is recorded in the install journal
// (so that a rollback removes it) and, while the install script logs, in the
// uninstall log (so that the uninstaller removes it).
#ifndef KX_EXTRACT_FOLDER_CREATION_H
#define KX_EXTRACT_FOLDER_CREATION_H

#include <windows.h>

#include <atomic>

// Uninstall logging flag, owned by the install script: while it is set,
// CreateInstallFolderPath records every folder it creates (uninstall log
// kind 1).
extern std::atomic<bool> g_uninstallLogging;

// Creates one folder whose parent exists, recorded in the install journal
// while it records and written to the run log. A folder the journal cannot
// hold is removed again. Returns 0 or the Windows error code.
DWORD CreateOneFolder(const wchar_t* path);

// CreateFolderPath (base/path_services.h) with every folder it creates
// recorded: in the uninstall log while g_uninstallLogging is set, then in the
// install journal through CreateOneFolder.
DWORD CreateInstallFolderPath(const wchar_t* path);

#endif
