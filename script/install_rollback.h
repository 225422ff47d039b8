// Ending an installation run: committing what the install journal
// (launcher/install_journal.h) recorded, or undoing it.
#ifndef KX_SCRIPT_INSTALL_ROLLBACK_H
#define KX_SCRIPT_INSTALL_ROLLBACK_H

// Undoes every change the journal recorded, last first: created files and
// folders are removed, kept-aside files put back over what replaced them,
// registry values restored or deleted and created keys removed; then the
// journal is cleared. The journal file is deleted as soon as everything
// inside the installation folder is undone. What is in use and cannot be undone now is left to
// the next start of Windows; a kept-aside original is never deleted, only
// moved back. Returns how many items wait for that restart. Shows nothing,
// so it may run after the core library is gone. Does nothing when the
// journal does not record.
int RollBackInstallation();

// Makes the run's changes permanent: marks the journal file committed,
// deletes the kept-aside originals (at the next restart those that cannot be
// deleted now) and clears the journal, the file with it.
void CommitInstallation();

#endif
