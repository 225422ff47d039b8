#include "engine_state.h"

#include "7zFile.h"

void SetFileWriteTime(HANDLE file, uint32_t timeHigh, uint32_t timeLow) {
  if (file == INVALID_HANDLE_VALUE || file == nullptr) return;
  FILETIME created, accessed, written;
  if (!GetFileTime(file, &created, &accessed, &written)) return;
  written.dwHighDateTime = timeHigh;
  written.dwLowDateTime = timeLow;
  SetFileTime(file, &created, &accessed, &written);
}

namespace {

enum class OpenOutcome { Opened, Skip, Stop };

// Opens the output file; on failure asks the create-file box until the open
// succeeds or the user skips the file or stops.
OpenOutcome OpenOutputFile(CSzFile* out, const wchar_t* path) {
  for (;;) {
    out->handle = OpenDestinationFile(path);
    if (out->handle != INVALID_HANDLE_VALUE) return OpenOutcome::Opened;
    wchar_t message[2 * kExtractPathCapacity];
    EvalVarBuf(L"#errorcreatefile", message, static_cast<int>(kExtractPathCapacity * sizeof(wchar_t)));
    AppendText(message, sizeof(message) / sizeof(message[0]), path);
    int answer = ShowExtractMessage(nullptr, message, MB_CANCELTRYCONTINUE | MB_ICONERROR | MB_DEFBUTTON2);
    if (answer == IDTRYAGAIN) continue;
    // A box that could not be shown (0) stops like Cancel.
    return answer == IDCONTINUE ? OpenOutcome::Skip : OpenOutcome::Stop;
  }
}

}  // namespace

int WriteEntryFile(const wchar_t* path, const unsigned char* data, size_t size, const EntryStamp& stamp) {
  CSzFile out;
  File_Construct(&out);
  switch (OpenOutputFile(&out, path)) {
    case OpenOutcome::Opened: break;
    case OpenOutcome::Skip: AdvanceExtractProgress(static_cast<uint64_t>(size) + 1); return 0;
    case OpenOutcome::Stop: return kExtractFailed;
  }

  int result = 0;
  size_t written = size;
  if (File_Write(&out, data, &written) != 0 || written != size) {
    ShowErrorWithPath(L"#errorwritefile", path);
    result = kExtractFailed;
  }
  AdvanceExtractProgress(static_cast<uint64_t>(size) + 1);
  if (stamp.hasTime) SetFileWriteTime(out.handle, stamp.timeHigh, stamp.timeLow);
  WRes closed = File_Close(&out);
  if (result != 0) return result;
  if (closed != 0) return static_cast<int>(closed);
  // Read-only must come last: the time above needs a writable handle.
  if (stamp.hasAttributes) SetFileAttributesW(path, WindowsAttributes(stamp.attributes));
  return 0;
}
