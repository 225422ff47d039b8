#include <wchar.h>

#include "base/path_services.h"
#include "extract/decode_worker.h"
#include "extract/engine_state.h"
#include "extract/folder_creation.h"
#include "extract/payload_archive.h"

namespace {

// Creates the folders above the entry and turns its separators into
// backslashes: the levels are those IsSafeEntryName has judged.
void CreateEntryFolders(wchar_t* path, size_t nameStart) {
  wchar_t* last = nullptr;
  bool ensured = true;
  for (wchar_t* p = path + nameStart; *p; ++p) {
    if (!IsEntryNameSeparator(*p)) continue;
    *p = L'\0';
    if (!IsKnownFolder(path, static_cast<size_t>(p - path)) && CreateInstallFolderPath(path) != 0) ensured = false;
    *p = L'\\';
    last = p;
  }
  // A folder that could not be made is tried again for the next entry.
  if (last && ensured) RememberFolder(path, static_cast<size_t>(last - path));
}

// The folder service's result for a folder whose parent is known to exist:
// only the folder itself may be missing.
DWORD CreateLastFolder(const wchar_t* path) {
  if (GetFileAttributesW(Win32Path(path).get()) != INVALID_FILE_ATTRIBUTES) return 0;
  if (g_uninstallLogging) AddUninstLog(KX_LOG_FOLDER, path);
  return CreateOneFolder(path);
}

ExtractResult ExtractDirectory(const wchar_t* path) {
  const size_t length = wcslen(path);
  const wchar_t* parentEnd = wcsrchr(path, L'\\');
  bool parentKnown = parentEnd && IsKnownFolder(path, static_cast<size_t>(parentEnd - path));
  if ((parentKnown ? CreateLastFolder(path) : CreateInstallFolderPath(path)) == 0) RememberFolder(path, length);
  // Logged even when it existed: the package owns the folders it lists.
  if (g_uninstallLogging) AddUninstLog(KX_LOG_FOLDER, path);
  AdvanceExtractProgress(1);
  return kExtractDone;
}

ExtractResult ExtractFile(const ArchiveEntry& entry, DecodeWorker* worker, wchar_t* path) {
  const uint64_t size = entry.size;
  EntryStamp stamp = {};
  stamp.hasTime = entry.hasTime;
  stamp.timeHigh = entry.timeHigh;
  stamp.timeLow = entry.timeLow;
  stamp.hasAttributes = entry.hasAttributes;
  stamp.attributes = entry.attributes;

  ExtractHookAnswer answer = g_extract.hook ? g_extract.hook(path, size, &stamp.timeHigh, &stamp.timeLow) : kHookWrite;
  if (answer == kHookCancel) g_extractCancelled = true;
  if (g_extractCancelled) return kExtractCancelled;
  if (answer == kHookSkip) return PassOverEntryData(worker, entry, size);
  return WriteEntryFile(path, worker, entry, size, stamp);
}

ExtractResult ExtractEntry(EntryCursor* entries, DecodeWorker* worker) {
  if (g_extractCancelled) return kExtractCancelled;
  // One extraction at a time, and a path may take Windows' full length.
  static wchar_t path[kExtractPathCapacity];
  static wchar_t entryName[kExtractPathCapacity];
  ArchiveEntry entry;
  SRes read = NextEntry(entries, &entry, reinterpret_cast<char16_t*>(entryName), kExtractPathCapacity);
  if (read != SZ_OK) return ExtractResultOfSdk(read);
  size_t nameStart = 0;
  // The survey has checked every name already; this only builds the path.
  ExtractResult checked = EntryDestinationPath(entryName, entry.nameUnits, path, &nameStart);
  if (checked != kExtractDone) return checked;
  const wchar_t* name = path + nameStart;
  if (!g_extract.silent) SetExtractLabel(name);

  CreateEntryFolders(path, nameStart);
  if (entry.isDir) return ExtractDirectory(path);
  return ExtractFile(entry, worker, path);
}

ExtractResult ExtractOpened(PayloadArchive* archive, const ArchiveSurvey& survey) {
  ForgetKnownFolders();
  if (g_extract.destination && DirectoryExists(g_extract.destination)) {
    // Known without its trailing separators, as paths are cut at their last.
    size_t length = wcsnlen(g_extract.destination, kExtractPathCapacity);
    while (length > 0 && (g_extract.destination[length - 1] == L'\\' || g_extract.destination[length - 1] == L'/'))
      --length;
    RememberFolder(g_extract.destination, length);
  }
  g_extract.unitsDone = 0;
  g_extract.unitsTotal = survey.units;
  // The worker decodes ahead while this thread writes the files.
  DecodeWorker worker;
  DecodeWorkerInit(&worker);
  ExtractResult result = ExtractResultOfSdk(DecodeWorkerStart(&worker, archive));
  // The pass's own cursor over the entries (the worker has another).
  static EntryCursor entries;
  StartEntryCursor(&entries, &archive->header, true);
  while (result == kExtractDone && EntriesLeft(&entries)) {
    result = ExtractEntry(&entries, &worker);
    if (result == kExtractDone) AnnounceUpcomingFiles(&entries);
  }
  DecodeWorkerStop(&worker);
  return result;
}

}  // namespace

ExtractResult ExtractEntries(void) {
  // One extraction at a time; the archive holds the header's cursors' store.
  static PayloadArchive archive;
  PayloadArchiveInit(&archive);
  ExtractResult result;
  if (!g_extract.archivePath || !g_extract.destination || PayloadArchiveOpenFile(&archive, g_extract.archivePath) != 0)
    result = kExtractFailed;
  else
    result = ExtractResultOfSdk(PayloadArchiveOpen(&archive, g_extract.startOffset ? *g_extract.startOffset : 0));
  // Names and space are checked before the first file is written, so that a
  // package refused for them writes nothing.
  ArchiveSurvey survey;
  if (result == kExtractDone) result = SurveyArchive(&archive.header, &survey);
  if (result == kExtractDone) result = CheckFreeSpace(g_extract.destination, survey.fileBytes);
  if (result == kExtractDone) result = OpenDestinationJournal(g_extract.destination, g_extract.destinationCreated);
  if (result == kExtractDone) result = ExtractOpened(&archive, survey);
  PayloadArchiveClose(&archive);
  // A Cancel confirmed while the pass ran wins over whatever it came to, and
  // needs no archive error after it.
  if (g_extractCancelled) return kExtractCancelled;
  ShowArchiveError(result);
  return result;
}

ExtractResult ExtractArchive(const wchar_t* archivePath, const wchar_t* destination, const uint32_t* startOffset,
                             unsigned char silent, KxDialogHandler progressHandler, ExtractFileHook hook) {
  g_extractCancelled = false;
  g_extract.box = nullptr;
  g_extract.bar = nullptr;
  g_extract.text = nullptr;
  g_extract.silent = silent;
  g_extract.archivePath = archivePath;
  g_extract.destination = destination;
  g_extract.startOffset = startOffset;
  g_extract.hook = hook;
  g_extract.unitsTotal = 0;
  g_extract.unitsDone = 0;

  if (destination) FinishInterruptedRun(destination);
  g_extract.destinationCreated = destination && !DirectoryExists(destination);
  if (g_extract.destinationCreated) CreateInstallFolderPath(destination);
  if (silent) return ExtractEntries();

  ShowProgressBox(progressHandler);
  ExtractResult result = ExtractEntries();
  HWND box = g_extract.box;
  if (box) PostMessageW(box, KX_WM_CLOSEPROGRESS, 0, 0);
  // The box's thread may have taken a Cancel since the pass ended.
  if (g_extractCancelled) return kExtractCancelled;
  return result;
}
