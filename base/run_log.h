// The run log (/LOG): what one run of setup.exe or Uninst.exe did, one line
// per step, for administrators and deployment tools.
//
// Both programs and the core library compile this file and write into the
// same log file, each through a handle of its own opened for appending only:
// every line is one write at the end of the file, so lines of the two modules
// never overwrite each other and a killed run still leaves every line
// written up to the kill. A line is UTF-8 text ending in CR LF:
//
//   2024-05-01 13:45:07.123 <text>
//
// with the local time to the millisecond. Line breaks inside a text are
// written as " | ". A log that cannot be opened or written never stops the
// run: it just has no (further) lines.
#ifndef KX_BASE_RUN_LOG_H
#define KX_BASE_RUN_LOG_H

#include <windows.h>

// Capacity of one line's text in UTF-16 units, terminator included; a longer
// text is cut and ends in "...".
constexpr size_t kRunLogLineCapacity = 2048;

// Opens path (created if missing, else appended to). True when the log is
// open; false leaves the run without a log.
bool OpenRunLog(const wchar_t* path);

// Opens a new log file in folder (ending in a backslash), named after the
// title, the program and the time: "<title> <program> <yyyymmdd-hhmmss>.log",
// with "-2", "-3", ... before ".log" when that name is taken. Characters that
// cannot stand in a file name become '_'. The full path goes into path
// (capacity units). False when no file could be created.
bool OpenNewRunLog(const wchar_t* folder, const wchar_t* title, const wchar_t* program, wchar_t* path,
                   size_t capacity);

void CloseRunLog();

// True while a log is open; callers skip work done only for the log.
bool RunLogActive();

// Writes one line: the time and the text formatted as by _snwprintf (use %ls
// for texts). Safe from any thread.
void LogLine(const wchar_t* format, ...);

#endif
