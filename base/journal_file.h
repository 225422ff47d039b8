// The running installation's journal file (its format: journal_format.h).
// The install journal (install_journal.h) writes every change inside the
// installation folder through it, so that a run killed from outside leaves
// on disk what it had changed; a run that commits or rolls back deletes it.
//
// The file is opened for writing by this process alone (others may read
// it): a second run that finds it open leaves it alone. One thread only.
#ifndef KX_BASE_JOURNAL_FILE_H
#define KX_BASE_JOURNAL_FILE_H

#include <windows.h>

#include "base/journal_format.h"

// Creates the journal in folder, which exists, and writes its header to the
// disk. folderCreated: this run created the folder. Returns 0, or the Windows
// error code (ERROR_FILE_EXISTS when a journal is there already: a run in
// progress, or one that could not be finished). Any journal file this
// process had open is closed and deleted first.
DWORD OpenJournalFile(const wchar_t* folder, bool folderCreated);
bool JournalFileIsOpen();

enum class JournalPlace {
  kOutside,  // not below the journal's folder (or no journal open): not recorded on disk
  kInside,   // below it: relative holds the part behind the folder
  kUnfit     // below it, but not a path a journal may name (journal_format.h)
};

// Where path lies relative to the open journal's folder; relative has
// kJournalPathCapacity units. Paths compare as written, letter case aside.
JournalPlace JournalRelativePath(const wchar_t* path, wchar_t* relative);

// Appends one line; with flush it has reached the disk when the call returns.
// Returns 0 or the Windows error code. After a failure every later append
// fails as well: the file may end in a partial line, and nothing may follow
// it.
DWORD AppendJournalLine(const JournalLine& line, bool flush);

// Makes every line appended so far reach the disk. 0 or the Windows error
// code (the file then refuses later lines, as after a failed append).
DWORD FlushJournalFile();

// Closes the open journal file and deletes it; nothing when none is open.
// False when it could not be deleted (the run log says why).
bool CloseJournalFile();

// Closes the open journal file and leaves it in place, for the next run to
// finish what this one could not undo.
void LeaveJournalFile();

#endif
