#include "extract/entry_survey.h"

#include "base/entry_names.h"
#include "extract/entry_checks.h"

static_assert(sizeof(UInt16) == sizeof(char16_t), "the SDK's names are UTF-16 units");

EntryPlacement PlaceEntry(const CSzArEx* db, uint32_t index, const char16_t* destination, char16_t* path,
                          size_t capacity, size_t* nameStart) {
  const size_t nameLength = SzArEx_GetFileNameUtf16(db, index, nullptr);
  if (!StartEntryPath(path, capacity, destination, nameLength, nameStart)) return EntryPlacement::kDoesNotFit;
  char16_t* name = path + *nameStart;
  SzArEx_GetFileNameUtf16(db, index, reinterpret_cast<UInt16*>(name));
  name[nameLength - 1] = u'\0';
  if (!kxentry::IsSafeEntryName(name)) return EntryPlacement::kUnsafe;
  return EntryLevelsFit(name) ? EntryPlacement::kPlaced : EntryPlacement::kDoesNotFit;
}

SurveyVerdict SurveyEntries(const CSzArEx* db, const char16_t* destination, char16_t* path, size_t capacity,
                            ArchiveSurvey* survey, size_t* nameStart) {
  *survey = ArchiveSurvey();
  for (uint32_t i = 0; i < db->NumFiles; ++i) {
    switch (PlaceEntry(db, i, destination, path, capacity, nameStart)) {
      case EntryPlacement::kPlaced:
        break;
      case EntryPlacement::kDoesNotFit:
        return SurveyVerdict::kDoesNotFit;
      case EntryPlacement::kUnsafe:
        return SurveyVerdict::kUnsafeName;
    }
    if (SzArEx_IsDir(db, i)) {
      survey->units += 1;
      continue;
    }
    const uint64_t size = SzArEx_GetFileSize(db, i);
    survey->units += size + 1;
    survey->fileBytes += size;
  }
  return db->NumFiles == 0 ? SurveyVerdict::kNoEntries : SurveyVerdict::kSurveyed;
}
