#include "extract/entry_survey.h"

#include "base/entry_names.h"
#include "extract/entry_checks.h"
#include "extract/entry_cursor.h"

EntryPlacement PlaceEntry(const char16_t* name, size_t nameUnits, const char16_t* destination, char16_t* path,
                          size_t capacity, size_t* nameStart) {
  if (!StartEntryPath(path, capacity, destination, nameUnits, nameStart)) return EntryPlacement::kDoesNotFit;
  char16_t* placed = path + *nameStart;
  for (size_t i = 0; i + 1 < nameUnits; ++i) placed[i] = name[i];
  placed[nameUnits - 1] = u'\0';
  if (!kxentry::IsSafeEntryName(placed)) return EntryPlacement::kUnsafe;
  return EntryLevelsFit(placed) ? EntryPlacement::kPlaced : EntryPlacement::kDoesNotFit;
}

SurveyVerdict SurveyEntries(const ArchiveHeader* header, const char16_t* destination, char16_t* path,
                            char16_t* name, size_t capacity, ArchiveSurvey* survey, size_t* nameStart,
                            SRes* failure) {
  *survey = ArchiveSurvey();
  *failure = SZ_OK;
  EntryCursor cursor;
  StartEntryCursor(&cursor, header, true);
  while (EntriesLeft(&cursor)) {
    ArchiveEntry entry;
    *failure = NextEntry(&cursor, &entry, name, capacity);
    if (*failure != SZ_OK) return SurveyVerdict::kUnreadable;
    switch (PlaceEntry(name, entry.nameUnits, destination, path, capacity, nameStart)) {
      case EntryPlacement::kPlaced:
        break;
      case EntryPlacement::kDoesNotFit:
        return SurveyVerdict::kDoesNotFit;
      case EntryPlacement::kUnsafe:
        return SurveyVerdict::kUnsafeName;
    }
    if (entry.isDir) {
      survey->units += 1;
      continue;
    }
    survey->units += entry.size + 1;
    survey->fileBytes += entry.size;
  }
  return header->entryCount == 0 ? SurveyVerdict::kNoEntries : SurveyVerdict::kSurveyed;
}
