// Small path and folder services shared by the runtime unpacking, the payload
// extraction, the install script and the uninstaller.
#ifndef KX_BASE_PATH_SERVICES_H
#define KX_BASE_PATH_SERVICES_H

#include <windows.h>

#include "base/long_path.h"

// Capacity of CreateFolderPath's working copy, terminating zero included.
constexpr size_t kFolderPathCapacity = kLongPathCapacity;

// True when a directory search for exactly this path finds a file or folder.
bool PathExists(const wchar_t* path);

// True for an existing file (not a folder).
bool IsFile(const wchar_t* path);

// Clears the read-only attribute, which keeps a file from being deleted or
// replaced; does nothing to a file without it.
void MakeWritable(const wchar_t* path);

// Schedules the file or empty folder for deletion at the next start of
// Windows; false when it cannot be scheduled.
bool DeleteAtRestart(const wchar_t* path);

// Creates one folder whose parent exists. Returns 0 or the Windows error code.
using FolderCreator = DWORD (*)(const wchar_t* path);

// Creates one folder whose parent exists and writes it to the run log.
// Returns 0 or the Windows error code.
DWORD CreateLoggedFolder(const wchar_t* path);

// Creates every missing folder along path and the path itself, outermost
// first, each through create (CreateLoggedFolder when null): an installation
// hands in a creator that also records each folder for its rollback and its
// uninstaller. Returns 0, the Windows error code of creating the final
// folder, or ERROR_FILENAME_EXCED_RANGE (nothing created) for a path of
// kFolderPathCapacity units or more.
DWORD CreateFolderPath(const wchar_t* path, FolderCreator create = nullptr);

// Ends path at its last backslash; without one at its last '/'; without
// either just after its last ':'; with none of the three it becomes empty.
void StripLastPathComponent(wchar_t* path);

// True for a character that separates the levels of an archive entry's name:
// '/' as archives store it, and '\', which Windows takes for one all the
// same. The checks below and the unpacking of both archives (runtime and
// payload) split names by this one rule, so that the folders they create are
// the levels the checks judged.
bool IsEntryNameSeparator(wchar_t c);

// True for a relative archive entry name that stays below the folder it is
// unpacked into: not empty, no leading separator, no drive or stream colon,
// no component of only dots and blanks such as "..".
bool IsContainedEntryName(const wchar_t* name);

// IsContainedEntryName, and no DOS device name (CON, NUL, COM1, ...) as a
// component, which Windows would open instead of a file. Used for the names
// of both archives of the container.
bool IsSafeEntryName(const wchar_t* name);

// Looks up SetDllDirectoryW in the already loaded Kernel32 and calls it with
// folder; does nothing when either is missing.
void AddDllSearchFolder(const wchar_t* folder);

#endif
