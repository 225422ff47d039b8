// Payload extraction: unpacks a 7z archive lying at a known offset inside a
// file into a destination folder, with a per-file hook, progress box and
// cancel. Implemented in extract/.
#ifndef KX_EXTRACT_EXTRACTION_H
#define KX_EXTRACT_EXTRACTION_H

#include <windows.h>
#include <stdint.h>

#include "7zTypes.h"
#include "core/kxcore.h"
#include "extract/entry_checks.h"

// What an extraction came to. Every failure but a cancellation carries in
// code the number the install script shows with "#ErrorUnpacking".
enum class ExtractOutcome {
  kDone,          // every entry written, or passed over as the hook or the user said
  kCancelled,     // the user confirmed Cancel in the progress box, or the hook answered kHookCancel
  kOutOfMemory,   // no memory for the decoding; code SZ_ERROR_MEM
  kArchiveError,  // the LZMA SDK refused the archive: no 7z archive, damaged or cut
                  // short data, an unsupported method, a failed read; code its SZ_ERROR_*
  kEngineFailed,  // the engine's own failure: the archive file not opened, a name
                  // too long or unsafe, a file not created or written; code SZ_ERROR_FAIL
  kDiskFull,      // the destination has no room: refused before the first write
                  // (after "#errordiskspace"), or a file's close said so; code ERROR_DISK_FULL
  kCloseFailed    // a written file could not be closed; code the Windows error
};

struct ExtractResult {
  ExtractOutcome outcome;
  int code;  // 0 for kDone and kCancelled
};

inline bool operator==(const ExtractResult& a, const ExtractResult& b) {
  return a.outcome == b.outcome && a.code == b.code;
}
inline bool operator!=(const ExtractResult& a, const ExtractResult& b) { return !(a == b); }

constexpr ExtractResult kExtractDone = {ExtractOutcome::kDone, 0};
constexpr ExtractResult kExtractCancelled = {ExtractOutcome::kCancelled, 0};
constexpr ExtractResult kExtractFailed = {ExtractOutcome::kEngineFailed, SZ_ERROR_FAIL};
constexpr ExtractResult kExtractDiskFull = {ExtractOutcome::kDiskFull, ERROR_DISK_FULL};

// The result for an LZMA SDK code: kDone for SZ_OK, kOutOfMemory for
// SZ_ERROR_MEM, otherwise kArchiveError.
ExtractResult ExtractResultOfSdk(SRes code);

// The per-file hook's answers.
enum ExtractHookAnswer {
  kHookWrite = 0,  // write the file
  kHookSkip = 1,   // pass over it (its data is still checked)
  kHookCancel = 2  // cancel the extraction
};

// Asked before each file entry is written. path is the engine's 782-unit
// destination buffer (the hook may rewrite it); timeHigh/timeLow point to the
// stored modification time (both 0 when none is stored).
typedef ExtractHookAnswer (*ExtractFileHook)(wchar_t* path, uint64_t size, const uint32_t* timeHigh,
                                             const uint32_t* timeLow);

// Files the per-file hook let through, and their sizes in bytes; reset by the
// install script.
extern int32_t g_extractedFileCount;
extern uint64_t g_extractedBytes;

// Unpacks the archive at *startOffset (null: 0) of archivePath into
// destination. silent non-zero: no progress box. A Cancel the user confirmed
// while the pass ran makes the result kCancelled, whatever the pass came to.
ExtractResult ExtractArchive(const wchar_t* archivePath, const wchar_t* destination, const uint32_t* startOffset,
                             unsigned char silent, KxDialogHandler progressHandler, ExtractFileHook hook);

// The per-file hook of the install script: asks the core library's
// CheckFileProp, creates and logs the file's folder, logs and counts the file.
ExtractHookAnswer InstallFileHook(wchar_t* path, uint64_t size, const uint32_t* timeHigh, const uint32_t* timeLow);

// The progress box handler given to ShowProgressBox; always returns 0.
int ProgressBoxHandler(UINT event, HWND box, WPARAM item, LPARAM extra);

// True when the path's attributes can be read and name a folder.
bool DirectoryExists(const wchar_t* path);

// Appends a backslash unless the path already ends in one (a trailing '/'
// does not count). The buffer must have room for one more unit.
void AddTrailingBackslash(wchar_t* path);

// Evaluates text and shows it in an error box captioned with the title.
void ShowErrorBox(const wchar_t* text);

// Shows the fixed English message for a failed extraction: the LZMA SDK's
// code (SZ_ERROR_FAIL also for the engine's own failures) picks the text,
// a failed close is an unknown error. Nothing for kDone, kCancelled and
// kDiskFull, whose message came first.
void ShowArchiveError(const ExtractResult& result);

// Replaces the last-write time of an open file, keeping its other two times.
// Does nothing for an invalid handle or when the times cannot be read.
void SetFileWriteTime(HANDLE file, uint32_t timeHigh, uint32_t timeLow);

// The extraction pass over the archive named by the engine state that
// ExtractArchive stored; same results as ExtractArchive.
ExtractResult ExtractEntries(void);

// ---- progress box (handlers run on the core library's box thread) ----

// Asks "#askcancelext" in a Yes/No box owned by owner (No is the default).
// True when the user answered Yes.
bool AskCancelExtraction(HWND owner);

// Sets EXTNAME to the entry name and shows the evaluated KXEXTTEXT in the
// box's text item.
void SetExtractLabel(const wchar_t* entryName);

// Moves the box's bar to units done * 100 / units total (nothing when the
// total is 0 or there is no bar).
void UpdateExtractProgress(void);

// ---- file inspection for hooks that decide by the target themselves ----

// Sets CURFILENAME, and when the target exists as a file KXDLGOVERFILE1 (the
// file on disk) and KXDLGOVERFILE3 (the archive's copy: size and stored time).
void PrepareOverwriteTexts(const wchar_t* path, uint64_t size, const uint32_t* timeHigh, const uint32_t* timeLow);

// True when the archive's copy may replace the target: the target does not
// exist, or was last written no later than the given time.
bool TargetNotNewer(const wchar_t* path, const uint32_t* timeHigh, const uint32_t* timeLow);

// True for a Windows executable whose machine is 32-bit x86 (0x14C).
bool IsX86Executable(const wchar_t* path);

// ---- message boxes ----

// Every message box of the extraction goes through this function, captioned
// with the application title. Tests may point g_extractMessageBox at a double
// to see the texts and script the answers; null means ShowMessageBox.
typedef int (*ExtractMessageBoxFn)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);
extern ExtractMessageBoxFn g_extractMessageBox;
int ShowExtractMessage(HWND owner, const wchar_t* text, UINT style);

#endif
