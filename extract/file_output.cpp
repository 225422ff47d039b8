#include "extract/engine_state.h"

#include "7zFile.h"
#include "base/path_services.h"
#include "base/run_log.h"
#include "extract/decode_worker.h"
#include "extract/install_journal.h"
#include "extract/restart_replacements.h"

void SetFileWriteTime(HANDLE file, uint32_t timeHigh, uint32_t timeLow) {
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return;
  FILETIME created, accessed, written;
  if (!GetFileTime(file, &created, &accessed, &written)) return;
  written.dwHighDateTime = timeHigh;
  written.dwLowDateTime = timeLow;
  SetFileTime(file, &created, &accessed, &written);
}

namespace {

// The entry's attributes, set on the handle that wrote it: setting them by
// name after the close would open the file once more, and under Wine every
// open is a round trip to the server that all file work shares. Attributes
// without a Windows bit become FILE_ATTRIBUTE_NORMAL, as SetFileAttributesW
// makes them; the zero times leave the file's times as they are.
void SetOpenFileAttributes(HANDLE file, uint32_t stored) {
  FILE_BASIC_INFO info = {};
  const DWORD attributes = WindowsAttributes(stored);
  info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info);
}

enum class OpenOutcome { Opened, Skip, Stop };

// Opens the output file; on failure asks the create-file box until the open
// succeeds or the user skips the file or stops. A file a running program
// holds is written beside it for the restart when the script allows that:
// *written is then that file's path, else path itself.
OpenOutcome OpenOutputFile(CSzFile* out, const wchar_t* path, const wchar_t** written) {
  *written = path;
  for (;;) {
    out->handle = OpenDestinationFile(path);
    if (out->handle != INVALID_HANDLE_VALUE) return OpenOutcome::Opened;
    DWORD error = GetLastError();
    if (RestartReplacementsEnabled() && IsFileInUseError(error)) {
      out->handle = OpenRestartReplacement(path);
      const wchar_t* original = nullptr;
      if (out->handle != INVALID_HANDLE_VALUE &&
          RestartReplacementAt(RestartReplacementCount() - 1, &original, written))
        return OpenOutcome::Opened;
    }
    wchar_t reason[256];
    SystemErrorText(error, reason, sizeof(reason) / sizeof(reason[0]));
    LogLine(L"Error %lu: the file %ls could not be created: %ls", static_cast<unsigned long>(error), path, reason);
    // The extraction's thread only; a path may take Windows' full length.
    static wchar_t message[2 * kExtractPathCapacity];
    EvalVarBuf(L"#errorcreatefile", message, static_cast<int>(kExtractPathCapacity * sizeof(wchar_t)));
    AppendText(message, sizeof(message) / sizeof(message[0]), path);
    int answer = ShowExtractMessage(nullptr, message, MB_CANCELTRYCONTINUE | MB_ICONERROR | MB_DEFBUTTON2);
    if (answer == IDTRYAGAIN) continue;
    // A box that could not be shown (0) stops like Cancel.
    return answer == IDCONTINUE ? OpenOutcome::Skip : OpenOutcome::Stop;
  }
}

// Reads the entry's bytes piece by piece and writes each to out (none for
// INVALID_HANDLE_VALUE). The progress moves with every piece that more
// follow; *advanced says by how much. Returns kExtractDone; the decoding's
// failure; kExtractCancelled when Cancel came between two pieces; or
// kExtractFailed with *writeFailed set.
ExtractResult CopyEntryData(DecodeWorker* worker, const ArchiveEntry& entry, uint64_t size, HANDLE out, uint64_t* advanced,
                            bool* writeFailed) {
  *advanced = 0;
  *writeFailed = false;
  if (size == 0) return kExtractDone;
  DecodeWorkerOpenFile(worker, entry);
  uint64_t done = 0;
  for (;;) {
    const unsigned char* data = nullptr;
    size_t piece = 0;
    SRes decoded = DecodeWorkerRead(worker, &data, &piece);
    if (decoded != SZ_OK) return ExtractResultOfSdk(decoded);
    if (piece == 0) return kExtractDone;
    if (out != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      if (!WriteFile(out, data, static_cast<DWORD>(piece), &written, nullptr) || written != piece) {
        *writeFailed = true;
        return kExtractFailed;
      }
    }
    done += piece;
    if (done < size) {
      AdvanceExtractProgress(piece);
      *advanced += piece;
      if (g_extractCancelled) return kExtractCancelled;
    }
  }
}

// The result of a written file's close that failed with error: a full disk
// is told apart, as the space check's is.
ExtractResult CloseFailure(WRes error) {
  if (error == ERROR_DISK_FULL) return kExtractDiskFull;
  return {ExtractOutcome::kCloseFailed, static_cast<int>(error)};
}

}  // namespace

ExtractResult PassOverEntryData(DecodeWorker* worker, const ArchiveEntry& entry, uint64_t size) {
  uint64_t advanced = 0;
  bool writeFailed = false;
  ExtractResult result = CopyEntryData(worker, entry, size, INVALID_HANDLE_VALUE, &advanced, &writeFailed);
  if (result == kExtractDone) AdvanceExtractProgress(size + 1 - advanced);
  return result;
}

ExtractResult WriteEntryFile(const wchar_t* path, DecodeWorker* worker, const ArchiveEntry& entry, uint64_t size,
                             const EntryStamp& stamp) {
  CSzFile out;
  File_Construct(&out);
  // Looked at only for the run log, which tells a new file from a replaced one.
  const bool replacing = RunLogActive() && PathExists(path);
  const wchar_t* written = path;
  switch (OpenOutputFile(&out, path, &written)) {
    case OpenOutcome::Opened: break;
    case OpenOutcome::Skip:
      LogLine(L"File skipped, it could not be created: %ls", path);
      return PassOverEntryData(worker, entry, size);
    case OpenOutcome::Stop: return kExtractFailed;
  }

  uint64_t advanced = 0;
  bool writeFailed = false;
  ExtractResult result = CopyEntryData(worker, entry, size, out.handle, &advanced, &writeFailed);
  if (result != kExtractDone && !writeFailed) {
    // Damaged data or a cancelled copy: nothing of the file stays.
    File_Close(&out);
    DeleteFileW(Win32Path(written).get());
    if (written != path) ForgetRestartReplacement(path);
    return result;
  }
  if (writeFailed) {
    DWORD error = GetLastError();
    wchar_t reason[256];
    SystemErrorText(error, reason, sizeof(reason) / sizeof(reason[0]));
    LogLine(L"Error %lu: the file %ls could not be written: %ls", static_cast<unsigned long>(error), path, reason);
    ShowErrorWithPath(L"#errorwritefile", path);
  }
  AdvanceExtractProgress(size + 1 - advanced);
  if (stamp.hasTime) SetFileWriteTime(out.handle, stamp.timeHigh, stamp.timeLow);
  // Read-only comes after the time; a file that failed to write keeps its
  // attributes, as it is undone with the rest of the run.
  if (result == kExtractDone && stamp.hasAttributes) SetOpenFileAttributes(out.handle, stamp.attributes);
  // Complete, with its time: a recovery tells it from one changed later.
  if (result == kExtractDone) RecordFileWritten(written, out.handle);
  WRes closed = File_Close(&out);
  if (result != kExtractDone) return result;
  if (closed != 0) {
    wchar_t reason[256];
    SystemErrorText(closed, reason, sizeof(reason) / sizeof(reason[0]));
    LogLine(L"Error %lu: the file %ls could not be closed: %ls", static_cast<unsigned long>(closed), path, reason);
    return CloseFailure(closed);
  }
  if (written != path)
    LogLine(L"File in use, replaced at the next restart: %ls (its new content waits in %ls)", path, written);
  else
    LogLine(replacing ? L"File replaced: %ls" : L"File written: %ls", path);
  return kExtractDone;
}
