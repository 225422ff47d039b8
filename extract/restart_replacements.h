// Files of the payload that a running program holds open, so that they can
// be neither replaced nor moved aside: their new content is written beside
// them and put in their place at the next start of Windows.
//
// The new content goes into "~kxr" + 8 hexadecimal digits + ".new" in the
// same folder (the same volume, so that the restart's move is a rename).
// That file is an ordinary created file of the install journal: a rollback
// or the recovery of a killed run deletes it like any other, and nothing is
// scheduled before the run commits. ScheduleRestartReplacements, called
// right before the commit, asks Windows to move each one over its file at
// the next restart (MoveFileExW, base/restart_operations.h); only then does
// the run need a restart.
//
// Off unless the install script turns it on: the extraction engine alone
// keeps its create-file box for a file it cannot open. One thread only.
#ifndef KX_EXTRACT_RESTART_REPLACEMENTS_H
#define KX_EXTRACT_RESTART_REPLACEMENTS_H

#include <windows.h>
#include <stddef.h>

// Turns replacing at the restart on or off, and forgets earlier ones.
void EnableRestartReplacements(bool enabled);
bool RestartReplacementsEnabled();

// True for the errors of a file another program holds open.
bool IsFileInUseError(DWORD error);

// Creates the file for path's new content, records it in the install
// journal and remembers the pair. Returns its handle (written by the
// caller), or INVALID_HANDLE_VALUE with the last error set.
HANDLE OpenRestartReplacement(const wchar_t* path);

// The file whose new content was not written after all (damaged data,
// a cancelled copy): forgets the last pair if it is path's. The journal
// still deletes its file.
void ForgetRestartReplacement(const wchar_t* path);

// How many files wait for the restart.
size_t RestartReplacementCount();
// The index'th pair; false when out of range.
bool RestartReplacementAt(size_t index, const wchar_t** path, const wchar_t** replacement);

// Schedules every remembered replacement for the next restart (renameList:
// the start-up rename list's path, the fallback where MoveFileExW refuses).
// Returns 0, or the Windows error code of the first that could not be
// scheduled (with its path in *failedPath); those scheduled before it stay
// scheduled, and move nothing once a rollback has deleted their files.
DWORD ScheduleRestartReplacements(const wchar_t* renameList, const wchar_t** failedPath);

#endif
