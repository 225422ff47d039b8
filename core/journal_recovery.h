// Finishing an installation run that was killed from outside, from the
// journal file it left in its installation folder (journal_format.h). The
// setup program does it before it changes a folder it installs into, the
// uninstaller before it removes anything from its own folder.
//
// An interrupted run is rolled back, last change first:
// - a file it kept aside goes back to its name, over whatever stands there;
// - a file it created is deleted;
// - a folder it created is removed when empty;
// - then the journal file is deleted, and the installation folder removed
//   when the run had created it and it is empty.
// A file the run had written completely and that was changed afterwards
// (its size or last-write time differ from the journal's, by more than the
// 2 seconds some file systems round to) is someone's later work: it stays,
// and a kept-aside original it replaced is deleted, as the run's commit
// would have done. A run that had committed is finished instead: its
// kept-aside files are deleted. What is in use is left to the next start of
// Windows, as the rollback does (install_rollback.h).
//
// Every path is taken relative to the folder the journal lies in, and a
// path that leads through a link or junction below it is left alone. A
// damaged journal is followed up to its first damaged line only; the run
// log says where and why, and what the rest may name stays as it is.
#ifndef KX_CORE_JOURNAL_RECOVERY_H
#define KX_CORE_JOURNAL_RECOVERY_H

#include <windows.h>

#include "base/journal_format.h"

enum class RecoveryOutcome {
  kNoJournal,    // nothing to finish
  kRolledBack,   // an interrupted run undone; the journal is gone
  kCommitted,    // a committed run's kept-aside files deleted; the journal is gone
  kInUse,        // a running program holds the journal: left alone
  kNotFinished   // the journal could not be read or deleted (out of memory, access): left in place
};

struct RecoveryResult {
  RecoveryOutcome outcome;
  JournalDamage damage;  // kNone, or why the journal was followed only in part
  int changes;           // changes the journal named (before any damage)
  int deferred;          // items left to the next start of Windows
};

// Looks for a journal in folder (with or without a trailing separator) and
// finishes the run that left it. Every step goes into the run log; nothing
// is shown.
RecoveryResult RecoverInterruptedInstallation(const wchar_t* folder);

#endif
