// Walks the entries of an opened archive header (extract/archive_header.h)
// in archive order, a few bytes of each property vector at a time: every
// reader of the entries (the survey, the extraction pass, the announcement
// of upcoming files, the decode worker's CRC checks) takes its own cursor.
// A cursor is a plain value: copying one gives a second that goes on from
// the same entry.
//
//   EntryCursor cursor;  StartEntryCursor(&cursor, &header, true);
//   ArchiveEntry entry;
//   while (EntriesLeft(&cursor)) { SRes r = NextEntry(&cursor, &entry, name, capacity); ... }
#ifndef KX_EXTRACT_ENTRY_CURSOR_H
#define KX_EXTRACT_ENTRY_CURSOR_H

#include <stddef.h>
#include <stdint.h>

#include "extract/archive_header.h"
#include "extract/header_window.h"

constexpr uint32_t kNoBlock = 0xFFFFFFFF;

// One entry as the SDK's database lists it.
struct ArchiveEntry {
  uint32_t index;
  bool isDir;
  uint32_t block;       // the solid block it belongs to; kNoBlock when none
  uint64_t offset;      // where its bytes start in the block's unpacked bytes
  uint64_t size;        // unpacked size (0 for folders and empty files)
  bool hasCrc;
  uint32_t crc;
  bool hasTime;
  uint32_t timeHigh, timeLow;  // FILETIME halves; 0 when none is stored
  bool hasAttributes;
  uint32_t attributes;
  size_t nameUnits;     // the name's length in UTF-16 units, its terminating zero included (0: not read)
};

struct EntryCursor {
  const ArchiveHeader* header;
  bool names;  // the names are read (the decode worker needs none)
  uint32_t next;
  HeaderBits emptyStreams, emptyFiles;
  HeaderWindow nameWindow;
  HeaderBits timesDefined, attributesDefined, digestsDefined;
  HeaderWindow timeValues, attributeValues, streamCounts, sizes, digestValues;
  // The SDK's walk from entries to blocks (SzReadHeader2).
  uint32_t block;
  uint32_t streamsLeft;   // streams of the current block still to come
  uint32_t blockStreams;  // streams of the current block
  uint64_t position;      // unpacked position of the next entry over all blocks
  uint64_t blockStart;    // that of the current block's first entry
};

void StartEntryCursor(EntryCursor* cursor, const ArchiveHeader* header, bool names);

inline bool EntriesLeft(const EntryCursor* cursor) { return cursor->next < cursor->header->entryCount; }

// Reads the next entry. Its name goes into name (capacity units, zero-
// terminated; cut short when it does not fit, entry->nameUnits telling the
// whole length); with name null or a cursor without names it is passed over.
// SZ_OK; SZ_ERROR_ARCHIVE (or _UNSUPPORTED) for the damage the SDK refuses;
// SZ_ERROR_READ when the store fails.
SRes NextEntry(EntryCursor* cursor, ArchiveEntry* entry, char16_t* name, size_t capacity);

// After the last entry: the checks the SDK makes of what follows the
// entries (no stream left over, every remaining block empty).
SRes FinishEntries(EntryCursor* cursor);

#endif
