// Payload extraction: unpacks a 7z archive lying at a known offset inside a
// file into a destination folder, with a per-file hook, progress box and
// cancel. Implemented in extract/.
#ifndef KX_EXTRACT_EXTRACTION_H
#define KX_EXTRACT_EXTRACTION_H

#include <windows.h>
#include <stdint.h>

#include <atomic>

#include "core/kxcore.h"

// Capacity of the destination path buffer, terminating zero included.
constexpr size_t kExtractPathCapacity = 782;

// Asked before each file entry is written. path is the engine's 782-unit
// destination buffer (the hook may rewrite it); timeHigh/timeLow point to the
// stored modification time (both 0 when none is stored). Answers 1 to skip
// the file, 2 to cancel the extraction, anything else to write it.
typedef int (*ExtractFileHook)(wchar_t* path, uint64_t size, const uint32_t* timeHigh, const uint32_t* timeLow);

// Set when the user confirmed Cancel in the progress box or a hook answered
// 2; cleared at the start of every ExtractArchive. Read by the caller after
// the call to tell a cancellation from a failure.
extern std::atomic<bool> g_extractCancelled;

// Files the per-file hook let through, and their sizes in bytes; reset by the
// install script.
extern int32_t g_extractedFileCount;
extern uint64_t g_extractedBytes;

// Unpacks the archive at *startOffset (null: 0) of archivePath into
// destination. silent non-zero: no progress box. Returns 0, an LZMA SDK
// result code, 11 for the engine's own failures, 2 with g_extractCancelled
// set for a cancellation, or a Windows error code from closing a file.
int ExtractArchive(const wchar_t* archivePath, const wchar_t* destination, const uint32_t* startOffset,
                   unsigned char silent, KxDialogHandler progressHandler, ExtractFileHook hook);

// The per-file hook of the install script: asks the core library's
// CheckFileProp, creates and logs the file's folder, logs and counts the file.
int InstallFileHook(wchar_t* path, uint64_t size, const uint32_t* timeHigh, const uint32_t* timeLow);

// The progress box handler given to ShowProgressBox; always returns 0.
int ProgressBoxHandler(UINT event, HWND box, WPARAM item, LPARAM extra);

// True when the path's attributes can be read and name a folder.
bool DirectoryExists(const wchar_t* path);

// Appends a backslash unless the path already ends in one (a trailing '/'
// does not count). The buffer must have room for one more unit.
void AddTrailingBackslash(wchar_t* path);

// Evaluates text and shows it in an error box captioned with the title.
void ShowErrorBox(const wchar_t* text);

// Shows the fixed English message for an extraction result code.
void ShowArchiveError(int code);

// Replaces the last-write time of an open file, keeping its other two times.
// Does nothing for an invalid handle or when the times cannot be read.
void SetFileWriteTime(HANDLE file, uint32_t timeHigh, uint32_t timeLow);

// The extraction pass over the archive named by the engine state that
// ExtractArchive stored; same results as ExtractArchive.
int ExtractEntries(void);

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
