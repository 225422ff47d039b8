// The payload extraction's look at an opened archive before anything is
// written: every entry's name behind the destination, and the sizes. Portable
// (the archive header read in parts, UTF-16 as char16_t, no Windows header),
// so that the fuzz targets run it over the archives they open;
// extract/archive_survey.cpp shows the messages and turns the verdicts into
// the extraction's results.
#ifndef KX_EXTRACT_ENTRY_SURVEY_H
#define KX_EXTRACT_ENTRY_SURVEY_H

#include <stddef.h>
#include <stdint.h>

#include "extract/archive_header.h"

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

// Puts the destination path of the entry named name (nameUnits units with
// its terminating zero, as the entry cursor reads it; name holds them when
// they fit in capacity) into path (capacity units): destination
// (zero-terminated), a backslash unless it ends in one, and the name with
// its separators as stored; *nameStart is where the name begins. The name is
// in path also when it is unsafe or a level is too long, for the message.
EntryPlacement PlaceEntry(const char16_t* name, size_t nameUnits, const char16_t* destination, char16_t* path,
                          size_t capacity, size_t* nameStart);

enum class SurveyVerdict {
  kSurveyed,     // every name placed; survey holds the sums
  kDoesNotFit,   // an entry's name does not fit (PlaceEntry's kDoesNotFit)
  kUnsafeName,   // an entry's name is unsafe; path + *nameStart holds it
  kNoEntries,    // the archive holds nothing: a payload would register a product that is not there
  kUnreadable    // the header's store failed to read back (*failure)
};

// Places every entry of header behind destination in order, using path and
// name (capacity units each) and stopping at the first that fails, and sums
// the sizes.
SurveyVerdict SurveyEntries(const ArchiveHeader* header, const char16_t* destination, char16_t* path,
                            char16_t* name, size_t capacity, ArchiveSurvey* survey, size_t* nameStart,
                            SRes* failure);

#endif
