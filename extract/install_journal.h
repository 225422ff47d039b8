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
// and security), under a name "~kx" + 11 hexadecimal digits + ".tmp", until
// the run is committed or rolled back. The digits begin at a number drawn
// for each run, so names left by other runs are practically never met; a
// taken name is skipped.
//
// Once the journal file is open (OpenInstallJournalFile), every change inside
// the installation folder is also written to it (journal_file.h): a kept-aside
// record reaches the disk before the file is moved, a created file or folder
// is written right after its creation, before anything is put into it. A
// change whose line cannot be written is not made (or is undone at once).
//
// Recording runs between StartInstallJournal and CommitInstallJournal or
// the rollback; outside it every Record function does nothing and succeeds.
// One thread only (the install script's).
#ifndef KX_EXTRACT_INSTALL_JOURNAL_H
#define KX_EXTRACT_INSTALL_JOURNAL_H

#include <windows.h>
#include <stddef.h>

#include "base/record_spill.h"

enum JournalKind {
  kJournalFolder = 0,
  kJournalFile = 1,
  kJournalKeptAside = 2,
  kJournalRegistryKey = 3,
  kJournalRegistryValue = 4
};

// One record as the rollback reads it. Texts and data belong to the reader
// that returned it and stay valid until its next read.
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

// Stops recording and frees the records (after a commit or a rollback); the
// journal file, if open, is closed and deleted.
void ClearInstallJournal();

// While recording: creates the journal file in the installation folder
// (which exists; folderCreated says this run created it). Returns 0 or the
// Windows error code; nothing is recorded on disk then, and the run must not
// go on to change the folder. 0 without doing anything when not recording.
DWORD OpenInstallJournalFile(const wchar_t* folder, bool folderCreated);

// The number of records made before the journal file was opened (0 when
// none is open): the rollback deletes the file once it has undone every
// record from there on, before the folder that holds it.
size_t InstallJournalFileStart();
void DeleteInstallJournalFile();
// Closes the journal file and leaves it for the next run's recovery.
void LeaveInstallJournalFile();

// The file at path, open as file, has been written completely: its size and
// last-write time go into the journal file, so that a later recovery can
// tell it from a file changed afterwards. Best effort: a file without this
// line is treated as cut short.
void RecordFileWritten(const wchar_t* path, HANDLE file);

// Before the kept-aside files of a committed run are deleted: the journal
// file says the run is committed, so that a run killed during the deletions
// is not rolled back. 0 or the Windows error code.
DWORD CommitInstallJournalFile();

size_t InstallJournalSize();

// The records are kept in a temporary file (base/record_spill.h), not in
// memory, so that a run of a million files holds a buffer of them, not all:
// a reader goes through them last first (the rollback) or in their order
// (the commit), a chunk at a time.
struct InstallJournalReader {
  SpillReader spill;
  BYTE* copy = nullptr;  // the record being handed out, aligned for its texts
  size_t capacity = 0;
  size_t index = 0;      // the next record forwards; one past it backwards
  bool damaged = false;  // the file could not be read back: the reader stopped
};
void StartJournalForward(InstallJournalReader* reader);
void StartJournalBackward(InstallJournalReader* reader);
// The next record in the reader's direction; false at the end or on damage.
// The index of the record returned is reader->index (backwards) or
// reader->index - 1 (forwards).
bool JournalNext(InstallJournalReader* reader, JournalRecord* record);
bool JournalPrevious(InstallJournalReader* reader, JournalRecord* record);
void ReleaseJournalReader(InstallJournalReader* reader);

// Record index (0 = oldest); false when out of range. Reads back from the
// end: for tests and the last few records only.
bool InstallJournalRecordAt(size_t index, JournalRecord* record);

// Before a file is made where none stands: its N line, so that a run killed
// between making the file and RecordCreatedFile leaves no file behind
// (journal_format.h). 0 or the Windows error code (the file must not be
// made then).
DWORD RecordFileToCreate(const wchar_t* path);

// Records that this run created the folder or the file. False when the
// record could not be stored; the caller then undoes the creation.
bool RecordCreatedFolder(const wchar_t* path);
bool RecordCreatedFile(const wchar_t* path);

// Before a file is replaced: moves an existing file at path (whatever its
// attributes) aside and records it. Returns 0 when nothing stands at path,
// when a folder stands there (left alone), or when the file was moved; else
// the Windows error code (for a file in use ERROR_SHARING_VIOLATION; the
// journal file's error when its line could not be written), with nothing
// moved.
DWORD KeepFileAside(const wchar_t* path);

// The most files announced at once.
constexpr size_t kAnnouncedCapacity = 64;

// True once a file inside the journal's folder was kept aside without an
// announcement: the caller should announce the files that come next.
bool InstallJournalWantsAnnouncements();

// Writes kept-aside lines for files about to be written (full paths, in the
// order they come), each with a name of its own, and flushes the journal
// file once for all of them. KeepFileAside then uses the announced name of a
// file and renames it at once, without waiting for the disk; a replaced file
// costs a flush only when it was not announced. An announced file that turns
// out new or skipped costs nothing: its line names a file that never
// appears. At most kAnnouncedCapacity are kept; paths outside the folder
// are left out. Forgets earlier announcements. 0 or the Windows error code
// (nothing announced then).
DWORD AnnounceKeptAside(const wchar_t* const* paths, size_t count);

// Undoes the last KeepFileAside of path at once, for a replacement that did
// not happen after all. Whatever was created at path meanwhile is lost.
// True when the original is back (or nothing had been kept aside).
bool PutBackKeptFile(const wchar_t* path);

// Before a registry value is written: records the value's present data (or
// that it is missing) and every level of the key that does not exist yet.
// key and name are as they will be written (already expanded).
bool RecordRegistryValue(HKEY root, const wchar_t* key, const wchar_t* name);

#endif
