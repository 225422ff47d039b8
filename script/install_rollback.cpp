#include "script/install_rollback.h"

#include <windows.h>

#include "base/handle_guard.h"
#include "base/handle_removal.h"
#include "base/path_services.h"
#include "base/run_log.h"
#include "extract/install_journal.h"

namespace {

// Returns how many items were left to the next restart. Removed through a
// handle to the very object (base/handle_removal.h): a link swapped in since
// the run made the item cannot lead the deletion out of the installation.
int RemoveCreatedFile(const wchar_t* path) {
  DWORD error = 0;
  if (RemoveWhereNamed(path, false, &error) != HandleRemoval::kFailed) return 0;
  wchar_t reason[256];
  SystemErrorText(error, reason, sizeof(reason) / sizeof(reason[0]));
  LogLine(L"Error %lu: the file %ls could not be removed now: %ls", static_cast<unsigned long>(error), path, reason);
  return DeleteAtRestart(path) ? 1 : 0;
}

int RemoveCreatedFolder(const wchar_t* path, int deferred) {
  DWORD error = 0;
  if (RemoveWhereNamed(path, true, &error) != HandleRemoval::kNotEmpty) return 0;
  // Left non-empty by an item waiting for the restart, it goes after that
  // item; a folder still holding anything then stays.
  if (deferred > 0 && DeleteAtRestart(path)) return 1;
  return 0;
}

int PutBackOriginal(const wchar_t* original, const wchar_t* aside) {
  if (!IsFile(aside)) return 0;
  MakeWritable(original);
  Win32Path from(aside), to(original);
  if (MoveFileExW(from.get(), to.get(), MOVEFILE_REPLACE_EXISTING)) return 0;
  // The replacement is in use: the original stays where it is, under its
  // kept-aside name, until Windows puts it back at the next start.
  return MoveFileExW(from.get(), to.get(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0;
}

void RestoreValue(const JournalRecord& record) {
  if (!record.existed) {
    RegDeleteKeyValueW(record.root, record.path, record.name);
    return;
  }
  RegKey key;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(record.root, record.path, 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS) return;
  key.reset(handle);
  RegSetValueExW(handle, record.name, 0, record.type, record.data, record.dataSize);
}

// Only a key left empty is ours to remove: anything in it came from elsewhere.
void RemoveCreatedKey(const JournalRecord& record) {
  RegKey key;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(record.root, record.path, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return;
  key.reset(handle);
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS ||
      subkeys != 0 || values != 0)
    return;
  key.reset();
  RegDeleteKeyW(record.root, record.path);
}

}  // namespace

int RollBackInstallation() {
  if (!InstallJournalRecording()) return 0;
  int deferred = 0;
  // Last first, read back a chunk at a time.
  InstallJournalReader reader;
  StartJournalBackward(&reader);
  JournalRecord record;
  while (JournalPrevious(&reader, &record)) {
    // Everything inside the installation folder is undone: the journal file
    // goes before the folder that holds it.
    if (reader.index < InstallJournalFileStart()) DeleteInstallJournalFile();
    switch (record.kind) {
      case kJournalFolder: deferred += RemoveCreatedFolder(record.path, deferred); break;
      case kJournalFile: deferred += RemoveCreatedFile(record.path); break;
      case kJournalKeptAside: deferred += PutBackOriginal(record.path, record.aside); break;
      case kJournalRegistryKey: RemoveCreatedKey(record); break;
      case kJournalRegistryValue: RestoreValue(record); break;
    }
  }
  const bool damaged = reader.damaged;
  if (damaged) {
    // The changes before the damage cannot be undone from here; the journal
    // file in the installation folder is kept, so that the next run undoes
    // what of them it names.
    LogLine(L"Error: the install journal could not be read back; %u earlier changes are not undone",
            static_cast<unsigned>(reader.index));
    LeaveInstallJournalFile();
  }
  ReleaseJournalReader(&reader);
  ClearInstallJournal();
  return deferred;
}

void CommitInstallation() {
  // A run killed while the copies go must not be rolled back over its new
  // files; a journal that cannot say so is still deleted below when all
  // went well.
  CommitInstallJournalFile();
  InstallJournalReader reader;
  StartJournalForward(&reader);
  JournalRecord record;
  while (JournalNext(&reader, &record)) {
    if (record.kind != kJournalKeptAside || !IsFile(record.aside)) continue;
    MakeWritable(record.aside);
    if (!DeleteFileW(Win32Path(record.aside).get())) DeleteAtRestart(record.aside);
  }
  ReleaseJournalReader(&reader);
  ClearInstallJournal();
}
