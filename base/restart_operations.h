// Deferred file operations at the next start of Windows, and the restart.
//
// The start-up rename list is an INI-format text file in the ANSI code page
// whose "[Rename]" section Windows carries out at its next start. Each entry
// is one line, destination first, both as short (8.3) path names:
//
//   [Rename]\r\n
//   C:\PROGRA~1\NEW.EXE=C:\PROGRA~1\OLD.EXE\r\n    move OLD.EXE over NEW.EXE
//   NUL=C:\PROGRA~1\UNINST.EXE\r\n                 delete UNINST.EXE
//
// The list's path is handed in by the caller (the core library's script
// variable WIN names it).
#ifndef KX_BASE_RESTART_OPERATIONS_H
#define KX_BASE_RESTART_OPERATIONS_H

#include <windows.h>

// Capacity of the short-name buffers, in UTF-16 units with the terminator,
// and of the formatted entry line, in bytes with the terminator.
enum { kRenameNameChars = 1024, kRenameLineBytes = 1024 };

// Moves existing (a full path) to newName, replacing what stands there, or
// deletes it when newName is null, at the next start of Windows. Asks
// MoveFileExW first and falls back to AddRenameEntry when that function is
// missing or refuses. Returns MoveFileExW's result when nonzero, else
// AddRenameEntry's.
BOOL MoveFileOnRestart(const wchar_t* existing, const wchar_t* newName, const wchar_t* renameListPath);

// Appends an entry for (existing, newName) to the end of the "[Rename]"
// section of the start-up rename list, creating the list and the section as
// needed. When newName names no file yet, an empty file is created there so
// that it has a short name. Returns TRUE when the entry was written; on
// FALSE the list's contents are as they were. Works in static buffers: call
// from one thread only.
BOOL AddRenameEntry(const wchar_t* existing, const wchar_t* newName, const wchar_t* renameListPath);

// Converts text to the ANSI code page into out (capacity bytes). Returns the
// length without the terminating zero, or -1 when it does not fit or a
// character has no exact ANSI form: a lookalike ("\u0141" written as "L")
// would name a different file.
int ToAnsiExactly(const wchar_t* text, char* out, int capacity);

// CreateFileW(path, access, FILE_SHARE_READ, disposition) with the file's
// present attributes as flags, so that a hidden or system file can be
// reopened. INVALID_HANDLE_VALUE on failure.
HANDLE OpenFileKeepAttrs(const wchar_t* path, DWORD access, DWORD disposition);

// The first place in text (zero-terminated, ANSI code page) where pattern
// stands, compared without regard to case, or null. Double-byte characters
// are never split.
const char* FindTextNoCase(const char* text, const char* pattern);

// Enables SeShutdownPrivilege in token (opened with TOKEN_ADJUST_PRIVILEGES |
// TOKEN_QUERY). Returns 0 when it is enabled, else a Windows error code:
// ERROR_NOT_ALL_ASSIGNED (1300) when the account does not hold it.
DWORD EnableShutdownPrivilege(HANDLE token);

// Enables the shutdown privilege and restarts Windows at once, ending other
// programs without asking them. Returns ERROR_SUCCESS (0) when the restart
// has begun, else the Windows error code of the step that failed (opening
// the process token, enabling the privilege, or ExitWindowsEx); Windows then
// keeps running.
DWORD RestartSystem();

#endif
