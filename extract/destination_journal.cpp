// The install journal's file in the destination: a run killed there is
// finished before this one changes anything, and this run's journal file is
// in place before its first file is written.
#include "engine_state.h"
#include "install_journal.h"
#include "journal_file.h"
#include "journal_recovery.h"

void FinishInterruptedRun(const wchar_t* destination) {
  // Only an installation journals; a plain extraction leaves journals be.
  if (!InstallJournalRecording()) return;
  RecoverInterruptedInstallation(destination);
}

int OpenDestinationJournal(const wchar_t* destination, bool created) {
  if (!InstallJournalRecording()) return 0;
  if (OpenInstallJournalFile(destination, created) == 0) return 0;
  // Without its journal a run killed from outside could not be undone: no
  // file is written. The run log has the Windows error code.
  wchar_t path[kJournalFilePathCapacity];
  ShowErrorWithPath(L"#errorcreatefile", JournalFilePath(destination, path) ? path : destination);
  return kExtractFailed;
}
