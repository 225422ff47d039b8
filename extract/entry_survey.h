// The payload extraction's look at an opened archive before anything is
// written: every entry's name behind the destination, and the sizes. Portable
// (the LZMA SDK's database, UTF-16 as char16_t, no Windows header), so that
// the fuzz targets run it over archives the SDK opened natively;
// extract/archive_survey.cpp shows the messages and turns the verdicts into
// the extraction's results.
#ifndef KX_EXTRACT_ENTRY_SURVEY_H
#define KX_EXTRACT_ENTRY_SURVEY_H

#include <stddef.h>
#include <stdint.h>

#include "7z.h"

// What the pass learns about the archive before it writes anything.
struct ArchiveSurvey {
  uint64_t units;      // progress units of the whole pass: 1 per entry, plus each file's size
  uint64_t fileBytes;  // unpacked size of every file entry
};

enum class EntryPlacement {
  kPlaced,      // path holds the destination, a backslash and the name
  kDoesNotFit,  // the name is empty, a level of it is longer than 255 units, or the path exceeds capacity
  kUnsafe       // the name could leave the destination or names a device (base/entry_names.h)
};

// Puts the destination path of entry index of db into path (capacity units):
// destination (zero-terminated), a backslash unless it ends in one, and the
// entry's name with its separators as stored; *nameStart is where the name
// begins. The name is in path also when it is unsafe or a level is too
// long, for the message.
EntryPlacement PlaceEntry(const CSzArEx* db, uint32_t index, const char16_t* destination, char16_t* path,
                          size_t capacity, size_t* nameStart);

enum class SurveyVerdict {
  kSurveyed,     // every name placed; survey holds the sums
  kDoesNotFit,   // an entry's name does not fit (PlaceEntry's kDoesNotFit)
  kUnsafeName,   // an entry's name is unsafe; path + *nameStart holds it
  kNoEntries     // the archive holds nothing: a payload would register a product that is not there
};

// Places every entry of db behind destination in order, using path
// (capacity units) and stopping at the first that fails, and sums the sizes.
SurveyVerdict SurveyEntries(const CSzArEx* db, const char16_t* destination, char16_t* path, size_t capacity,
                            ArchiveSurvey* survey, size_t* nameStart);

#endif
