// Process-wide state of the one extraction that may run at a time. The
// progress box handler and the per-file hook reach it without a context.
#ifndef KX_EXTRACT_ENGINE_STATE_H
#define KX_EXTRACT_ENGINE_STATE_H

#include <windows.h>
#include <stdint.h>

#include <atomic>

#include "extract/entry_checks.h"
#include "extract/entry_cursor.h"
#include "extract/entry_survey.h"
#include "extract/extraction.h"
#include "launcher/literal_text.h"

// Set when the user confirmed Cancel in the progress box (on the box's
// thread) or a hook answered kHookCancel; cleared at the start of every
// ExtractArchive. The pass looks at it between entries and between the
// pieces of a file; callers see it in the result, which is then kCancelled.
extern std::atomic<bool> g_extractCancelled;

// Progress box items of "dlgprogress".
enum ProgressItem { kItemNext = 1, kItemCancel = 2, kItemBack = 3, kItemBar = 20, kItemText = 21 };

struct ExtractEngine {
  // Parameters of the running ExtractArchive call.
  const wchar_t* archivePath;
  const wchar_t* destination;
  const uint32_t* startOffset;  // null: 0
  unsigned char silent;
  ExtractFileHook hook;
  // Taken by the box handler on the box's thread; cleared by ExtractArchive.
  std::atomic<HWND> box;
  std::atomic<HWND> bar;
  std::atomic<HWND> text;
  // Progress units: each entry counts 1, each file entry also its size.
  uint64_t unitsTotal;
  uint64_t unitsDone;
  // The destination did not exist before this call.
  bool destinationCreated;
};
extern ExtractEngine g_extract;

// Checks every entry's name and destination path and sums the sizes.
// Returns kExtractDone; kExtractFailed for a name that is too long, unsafe
// (after the "#invalidfilename" message) or too long behind the destination;
// kArchiveError with SZ_ERROR_NO_ARCHIVE when the archive holds no entry, or
// with the store's failure when the header could not be read back.
ExtractResult SurveyArchive(const ArchiveHeader* header, ArchiveSurvey* survey);

// Puts the destination path of the entry named name (nameUnits units, as the
// entry cursor read it) into path (kExtractPathCapacity units) with its
// separators as stored; *nameStart is where the name begins. Returns
// kExtractDone or kExtractFailed as SurveyArchive does for the entry.
ExtractResult EntryDestinationPath(const wchar_t* name, size_t nameUnits, wchar_t* path, size_t* nameStart);

// Returns kExtractDone when the volume of destination (an existing folder)
// has bytes free for the caller, or when it cannot be asked; otherwise shows
// the "#errordiskspace" message with both sizes and returns kExtractDiskFull.
ExtractResult CheckFreeSpace(const wchar_t* destination, uint64_t bytes);

// What the archive stores about an entry besides its data.
struct EntryStamp {
  bool hasTime;
  uint32_t timeHigh, timeLow;  // FILETIME halves; both 0 when none is stored
  bool hasAttributes;
  uint32_t attributes;         // as stored
};

// While the install journal records: finishes the run a killed setup left
// in the destination (journal_recovery.h), before anything checks or
// changes it. Nothing otherwise.
void FinishInterruptedRun(const wchar_t* destination);

// While the install journal records: creates this run's journal file in the
// destination (which exists). kExtractDone; or kExtractFailed after the create-file
// message naming the journal file, and then no file may be written.
ExtractResult OpenDestinationJournal(const wchar_t* destination, bool created);

// When the install journal asks for it (a file was just replaced): announces
// the destination paths of the file entries the pass's cursor comes to next
// (read with a copy of it), so that their kept-aside names reach the disk
// under one flush.
void AnnounceUpcomingFiles(const EntryCursor* pass);

// The one place that opens a destination file for writing (CREATE_ALWAYS,
// shared for reading). While the install journal records, an existing file
// (read-only, hidden and system ones included) is first kept aside and the
// new file recorded, so a rollback can bring the old one back. INVALID_HANDLE_VALUE with the last
// error set when the file cannot be opened (nothing is then kept aside).
HANDLE OpenDestinationFile(const wchar_t* path);

struct DecodeWorker;

// Writes one file entry the hook let through: opens path (the create-file box
// on failure: Try Again, Continue skips the file, Cancel stops), writes the
// bytes as the worker decodes them, advances the progress, applies the stored
// time to the open file, closes it and applies the stored attributes. A file
// whose data turns out damaged, or whose copy is cancelled, is removed.
// Returns kExtractDone (written, or skipped with Continue), the decoding's
// failure, kExtractCancelled, kExtractFailed (not created or not written),
// kCloseFailed, or kExtractDiskFull when the close found no room.
ExtractResult WriteEntryFile(const wchar_t* path, DecodeWorker* worker, const ArchiveEntry& entry, uint64_t size,
                             const EntryStamp& stamp);

// Reads a file entry's bytes through without writing them, for a file that
// is skipped: its data is checked all the same. Returns kExtractDone, the
// decoding's failure or kExtractCancelled.
ExtractResult PassOverEntryData(DecodeWorker* worker, const ArchiveEntry& entry, uint64_t size);

// Adds units to the progress done and moves the bar (not in silent mode).
void AdvanceExtractProgress(uint64_t units);

// Folders the running pass has made sure exist (forgotten at its start).
// A folder is known when it is the one remembered last or lies above it;
// paths compare as written, with backslashes.
void ForgetKnownFolders();
void RememberFolder(const wchar_t* folder, size_t length);
bool IsKnownFolder(const wchar_t* folder, size_t length);

// Shows EvalVar(key) followed by the path as it stands (the path is not
// evaluated, so '%' and '#' in file names survive) in the error box.
void ShowErrorWithPath(const wchar_t* key, const wchar_t* path);

// Copies source behind the text already in dest (capacity units, terminating
// zero included). Returns false, with dest cut and terminated, when it did
// not fit.
bool AppendText(wchar_t* dest, size_t capacity, const wchar_t* source);


#endif
