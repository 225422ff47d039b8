// The install journal's file in the destination: a run killed there is
// finished before this one changes anything, and this run's journal file is
// in place before its first file is written.
#include <wchar.h>

#include "extract/engine_state.h"
#include "extract/install_journal.h"
#include "base/journal_format.h"
#include "core/kxcore.h"

void FinishInterruptedRun(const wchar_t* destination) {
  // Only an installation journals; a plain extraction leaves journals be.
  // A journal that stays makes this run's own journal fail to open.
  if (InstallJournalRecording()) FinishInterruptedInstall(destination);
}

ExtractResult OpenDestinationJournal(const wchar_t* destination, bool created) {
  if (!InstallJournalRecording()) return kExtractDone;
  if (OpenInstallJournalFile(destination, created) == 0) return kExtractDone;
  // Without its journal a run killed from outside could not be undone: no
  // file is written. The run log has the Windows error code.
  wchar_t path[kJournalFilePathCapacity];
  ShowErrorWithPath(L"#errorcreatefile", JournalFilePath(destination, path) ? path : destination);
  return kExtractFailed;
}

void AnnounceUpcomingFiles(const EntryCursor* pass) {
  if (!InstallJournalWantsAnnouncements()) return;
  // One extraction at a time: the path and the cursor are kept in static
  // storage, and each path on the heap only as long as it is.
  static wchar_t path[kExtractPathCapacity];
  static wchar_t name[kExtractPathCapacity];
  static EntryCursor ahead;
  ahead = *pass;
  wchar_t* list[kAnnouncedCapacity];
  size_t count = 0;
  while (count < kAnnouncedCapacity && EntriesLeft(&ahead)) {
    ArchiveEntry entry;
    if (NextEntry(&ahead, &entry, reinterpret_cast<char16_t*>(name), kExtractPathCapacity) != SZ_OK) break;
    if (entry.isDir) continue;
    size_t nameStart = 0;
    // The survey has checked every name: this only builds the path.
    if (EntryDestinationPath(name, entry.nameUnits, path, &nameStart) != kExtractDone) break;
    // As the pass writes it (CreateEntryFolders).
    for (wchar_t* p = path + nameStart; *p; ++p)
      if (*p == L'/') *p = L'\\';
    const size_t length = wcslen(path);
    list[count] = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t)));
    if (!list[count]) break;
    wmemcpy(list[count], path, length + 1);
    ++count;
  }
  // A failure has stopped the journal: the next change reports it.
  AnnounceKeptAside(list, count);
  for (size_t i = 0; i < count; ++i) HeapFree(GetProcessHeap(), 0, list[i]);
}
