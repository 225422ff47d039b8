// The install journal: every change one installation run makes on disk and
// in the registry, in the order it was made, so that a run that fails or is
// cancelled can be undone (script/install_rollback.h) and one that succeeds
// committed.
//
// | Record          | Made when                                 | Undone by                           |
// |-----------------|-------------------------------------------|-------------------------------------|
// | folder          | a folder was created                      | removing it (when empty)            |
// | file            | a file was created where none stood       | deleting it                         |
// | kept aside      | an existing file was moved out of the way | moving it back over whatever stands |
// | registry key    | a key was about to be created             | deleting it (when empty)            |
// | registry value  | a value was about to be written           | restoring its old data, or deleting |
//
// Records are undone last first, so any sequence of changes to one name
// (a file replaced twice, a value written twice) comes back to the state
// before the run. A change whose record cannot be stored (no memory) is not
// made: nothing is changed unrecorded.
//
// Kept-aside files stay in the folder of the file they stand for (same
// volume, so moving them is a rename that keeps content, times, attributes
// and security), under a name "~kx" + 5 hexadecimal digits + ".tmp", until
// the run is committed or rolled back.
//
// Recording runs between StartInstallJournal and CommitInstallJournal or
// the rollback; outside it every Record function does nothing and succeeds.
// One thread only (the install script's).
#ifndef KX_EXTRACT_INSTALL_JOURNAL_H
#define KX_EXTRACT_INSTALL_JOURNAL_H

#include <windows.h>
#include <stddef.h>

enum JournalKind {
  kJournalFolder = 0,
  kJournalFile = 1,
  kJournalKeptAside = 2,
  kJournalRegistryKey = 3,
  kJournalRegistryValue = 4
};

// One record as the rollback reads it. Texts and data belong to the journal
// and stay valid until it is cleared.
struct JournalRecord {
  JournalKind kind;
  const wchar_t* path;     // folder, file, original file, or registry key
  const wchar_t* aside;    // kept aside: where the original file is now
  HKEY root;               // registry records
  const wchar_t* name;     // registry value name
  bool existed;            // registry value: it had data before the run
  DWORD type;              // registry value: its old type and data
  const BYTE* data;
  DWORD dataSize;
};

// Forgets any earlier journal and starts recording.
void StartInstallJournal();
bool InstallJournalRecording();

// Stops recording and frees the records (after a commit or a rollback).
void ClearInstallJournal();

size_t InstallJournalSize();
// Record index (0 = oldest); false when out of range.
bool InstallJournalRecordAt(size_t index, JournalRecord* record);

// Records that this run created the folder or the file. False when the
// record could not be stored; the caller then undoes the creation.
bool RecordCreatedFolder(const wchar_t* path);
bool RecordCreatedFile(const wchar_t* path);

// Before a file is replaced: moves an existing file at path (whatever its
// attributes) aside and records it. Returns 0 when nothing stands at path,
// when a folder stands there (left alone), or when the file was moved; else
// the Windows error code (for a file in use ERROR_SHARING_VIOLATION), with
// nothing moved.
DWORD KeepFileAside(const wchar_t* path);

// Undoes the last KeepFileAside of path at once, for a replacement that did
// not happen after all. Whatever was created at path meanwhile is lost.
// True when the original is back (or nothing had been kept aside).
bool PutBackKeptFile(const wchar_t* path);

// Before a registry value is written: records the value's present data (or
// that it is missing) and every level of the key that does not exist yet.
// key and name are as they will be written (already expanded).
bool RecordRegistryValue(HKEY root, const wchar_t* key, const wchar_t* name);

#endif
