// What the pass checks before it writes anything: every entry's name and
// path, that the archive holds anything at all, and the free space for it.
#include <stdio.h>
#include <wchar.h>

#include "base/path_services.h"
#include "extract/engine_state.h"
#include "extract/entry_survey.h"
#include "services/size_text.h"
#include "services/system_queries.h"

namespace {

void AppendLine(wchar_t* message, size_t capacity, const wchar_t* key, uint64_t bytes) {
  wchar_t label[128];
  wchar_t size[64];
  EvalVarBuf(key, label, sizeof(label));
  FormatByteSize(bytes, size, sizeof(size) / sizeof(size[0]));
  AppendText(message, capacity, L"\r\n");
  AppendText(message, capacity, label);
  AppendText(message, capacity, L" ");
  AppendText(message, capacity, size);
}

}  // namespace

// wchar_t is UTF-16 here: the portable checks (extract/entry_survey.h) work on the same buffers.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t holds UTF-16 units");

ExtractResult EntryDestinationPath(const wchar_t* name, size_t nameUnits, wchar_t* path, size_t* nameStart) {
  switch (PlaceEntry(reinterpret_cast<const char16_t*>(name), nameUnits,
                     reinterpret_cast<const char16_t*>(g_extract.destination), reinterpret_cast<char16_t*>(path),
                     kExtractPathCapacity, nameStart)) {
    case EntryPlacement::kPlaced:
      return kExtractDone;
    case EntryPlacement::kDoesNotFit:
      return kExtractFailed;
    case EntryPlacement::kUnsafe:
      break;
  }
  ShowErrorWithPath(L"#invalidfilename", path + *nameStart);
  return kExtractFailed;
}

ExtractResult SurveyArchive(const ArchiveHeader* header, ArchiveSurvey* survey) {
  // One extraction at a time, and a path may take Windows' full length.
  static wchar_t path[kExtractPathCapacity];
  static wchar_t name[kExtractPathCapacity];
  size_t nameStart = 0;
  SRes failure = SZ_OK;
  switch (SurveyEntries(header, reinterpret_cast<const char16_t*>(g_extract.destination),
                        reinterpret_cast<char16_t*>(path), reinterpret_cast<char16_t*>(name), kExtractPathCapacity,
                        survey, &nameStart, &failure)) {
    case SurveyVerdict::kSurveyed:
      return kExtractDone;
    case SurveyVerdict::kDoesNotFit:
      return kExtractFailed;
    case SurveyVerdict::kUnsafeName:
      ShowErrorWithPath(L"#invalidfilename", path + nameStart);
      return kExtractFailed;
    case SurveyVerdict::kUnreadable:
      return ExtractResultOfSdk(failure);
    case SurveyVerdict::kNoEntries:
      break;
  }
  return ExtractResultOfSdk(SZ_ERROR_NO_ARCHIVE);
}

ExtractResult CheckFreeSpace(const wchar_t* destination, uint64_t bytes) {
  static wchar_t folder[kExtractPathCapacity + 1];
  size_t length = wcsnlen(destination, kExtractPathCapacity);
  if (length >= kExtractPathCapacity) return kExtractDone;
  wmemcpy(folder, destination, length + 1);
  AddTrailingBackslash(folder);
  DiskSpace space;
  // A volume that does not answer is not judged here: the writes will tell.
  if (!QueryDiskSpace(folder, &space) || space.availableToCaller >= bytes) return kExtractDone;

  wchar_t message[1024];
  EvalVarBuf(L"#errordiskspace", message, sizeof(message));
  AppendText(message, sizeof(message) / sizeof(message[0]), L"\r\n");
  AppendLine(message, sizeof(message) / sizeof(message[0]), L"#spacerequired", bytes);
  AppendLine(message, sizeof(message) / sizeof(message[0]), L"#spaceavailable", space.availableToCaller);
  ShowExtractMessage(nullptr, message, MB_TOPMOST | MB_ICONERROR);
  return kExtractDiskFull;
}
