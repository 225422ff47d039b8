// Telling a live run's runtime folder from a killed run's. Each run keeps a
// lock file open, unshared, in its own runtime folder for its whole life;
// Windows closes it when the process ends however it ends. A runtime folder
// whose lock file can be opened has lost its owner, and a later run removes
// it. A folder without the lock file is never taken for ours: an older
// program's, someone else's, or one whose owner is just creating it.
#ifndef KX_LAUNCHER_RUNTIME_LOCK_H
#define KX_LAUNCHER_RUNTIME_LOCK_H

#include <windows.h>

constexpr wchar_t kRuntimeLockName[] = L"kxrun.lock";

// Creates the lock file in the runtime folder (g_runtimePath) and holds it.
// False when it could not be created; the run goes on, and its folder will
// then never be taken for stale.
bool HoldRuntimeLock();

// Removes the runtime folder (g_runtimePath): its contents while the lock is
// held, then the lock and the folder. When something in it cannot be
// removed, the lock stays held and in place. Returns 0 or the Windows error
// code of the first failure.
DWORD RemoveLockedRuntimeFolder();

// Gives up the lock without removing it: a runtime folder that could not be
// removed is left to a later run, which removes it once it is free.
void ReleaseRuntimeLock();

// Removes every runtime folder directly inside tempFolder (ending in a
// backslash) that has lost its owner: a real folder (not a link) named "kx"
// and 8 upper-case hex digits, holding a lock file (not a link) that no
// process holds open. Returns how many were removed completely.
int RemoveStaleRuntimeFolders(const wchar_t* tempFolder);

#endif
