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

// What the runtime unpacking came to. The launcher's exit code follows from
// it alone (launcher_main.cpp): a damaged or hostile package calls for a new
// copy, trouble of this machine (memory, disk) does not.
enum class RuntimeUnpackResult {
  kUnpacked,           // every entry is in the runtime folder
  kArchiveUnreadable,  // the runtime archive not found behind the payload, or
                       // not opened (whatever the decoder said)
  kUnsafeName,         // an entry name that leaves the runtime folder or names a device
  kDamaged,            // the decoder refused an entry: data or CRC error,
                       // unsupported method, archive cut short
  kOutOfMemory,        // the decoder found no memory for an entry
  kNotWritten          // a name too long or already present, a file not
                       // created, written or closed
};

// Writes every entry of the runtime archive of the program file modulePath
// into the runtime folder, stopping at the first failure. The decoder's and
// Windows' codes behind a failure go into the run log.
RuntimeUnpackResult UnpackRuntimeArchive(const wchar_t* modulePath, const ContainerInfo& container);

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
