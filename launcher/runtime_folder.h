// The runtime folder: a private folder "kx" + 8 upper-case hex digits under
// the temporary-files folder, holding the unpacked runtime archive for one run.
#ifndef KX_LAUNCHER_RUNTIME_FOLDER_H
#define KX_LAUNCHER_RUNTIME_FOLDER_H

#include <windows.h>
#include <stdint.h>

#include "launcher/container.h"

constexpr size_t kRuntimePathCapacity = 784;
constexpr int kRuntimeFolderAttempts = 100;
constexpr size_t kRuntimeFolderNameLength = 10;  // "kx" and 8 hex digits

// The runtime folder's path, ending in a backslash, and its length in units.
// Before CreateRuntimeFolder the launcher puts the temporary-files folder here.
extern wchar_t g_runtimePath[kRuntimePathCapacity];
extern size_t g_runtimePathLength;

// Creates a uniquely named folder under the folder in g_runtimePath and
// appends its name and a backslash. False after 100 names were taken or on
// any creation error other than ERROR_ALREADY_EXISTS.
bool CreateRuntimeFolder();

// Where an unpacking failure comes from, for the launcher's fatal message.
enum RuntimeFailureSource { kRuntimeFailureLauncher, kRuntimeFailureSdk, kRuntimeFailureWindows };

// Writes every entry of the runtime archive of the program file modulePath
// into the runtime folder. Returns 0; 2 (a name too long or already present,
// a file not created or not written); 3 (archive not found or not opened, a
// name that leaves the folder or names a device); an LZMA SDK code of a
// failed extraction; or the Windows code of a failed file close. source
// tells which kind a non-zero result is.
int UnpackRuntimeArchive(const wchar_t* modulePath, const ContainerInfo& container,
                         RuntimeFailureSource* source);

// Deletes everything below the folder named by path (which ends in a
// backslash and has room up to capacity units), clearing read-only files
// first, then the folder itself. Links (junctions, symbolic links) are
// removed themselves, never followed. The first failure stops the removal.
// Returns 0 or the Windows error code of that failure.
DWORD RemoveFolderTree(wchar_t* path, size_t capacity);

// RemoveFolderTree without removing the folder itself, and leaving the
// entry named keep (may be null) directly inside it.
DWORD RemoveFolderContents(wchar_t* path, size_t capacity, const wchar_t* keep);

#endif
