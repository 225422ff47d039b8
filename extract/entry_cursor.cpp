#include "extract/entry_cursor.h"

namespace {

void StartBits(HeaderBits* bits, const HeaderStore* store, const HeaderBitVector& vector) {
  if (!vector.present)
    StartHeaderBitsNone(bits);
  else if (vector.all)
    StartHeaderBitsAll(bits);
  else
    StartHeaderBits(bits, store, vector.bitsStart, vector.bitsSize);
}

uint32_t ReadLe32(const unsigned char* b) {
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
         static_cast<uint32_t>(b[3]) << 24;
}

// The entry's name up to its terminating zero; units counts them all.
SRes ReadName(HeaderWindow* window, char16_t* name, size_t capacity, size_t* units) {
  *units = 0;
  for (;;) {
    unsigned low = 0, high = 0;
    RINOK(HeaderWindowByte(window, &low))
    RINOK(HeaderWindowByte(window, &high))
    const char16_t unit = static_cast<char16_t>(low | high << 8);
    if (name && *units < capacity) name[*units] = unit;
    ++*units;
    if (unit == 0) break;
  }
  // Cut short: still terminated.
  if (name && capacity > 0 && *units > capacity) name[capacity - 1] = 0;
  return SZ_OK;
}

uint64_t BlockSize(const ArchiveHeader* header, uint32_t block) {
  return SzAr_GetFolderUnpackSize(&header->blocks.db, block);
}

}  // namespace

void StartEntryCursor(EntryCursor* c, const ArchiveHeader* h, bool names) {
  const HeaderStore* store = h->store;
  c->header = h;
  c->names = names && h->hasNames;
  c->next = 0;
  StartBits(&c->emptyStreams, store, h->emptyStreams);
  StartBits(&c->emptyFiles, store, h->emptyFiles);
  OpenHeaderWindow(&c->nameWindow, store, h->namesStart, h->hasNames ? h->namesSize : 0);
  StartBits(&c->timesDefined, store, h->times.defined);
  StartBits(&c->attributesDefined, store, h->attributes.defined);
  StartBits(&c->digestsDefined, store, h->digestsDefined);
  OpenHeaderWindow(&c->timeValues, store, h->times.valuesStart, h->times.valuesSize);
  OpenHeaderWindow(&c->attributeValues, store, h->attributes.valuesStart, h->attributes.valuesSize);
  OpenHeaderWindow(&c->streamCounts, store, h->streamCountsStart, h->hasStreamCounts ? h->streamCountsSize : 0);
  OpenHeaderWindow(&c->sizes, store, h->sizesStart, h->sizesSize);
  OpenHeaderWindow(&c->digestValues, store, h->digestsStart, h->digestsSize);
  c->block = 0;
  c->streamsLeft = 0;
  c->blockStreams = 0;
  c->position = 0;
  c->blockStart = 0;
}

SRes NextEntry(EntryCursor* c, ArchiveEntry* e, char16_t* name, size_t capacity) {
  const ArchiveHeader* h = c->header;
  const CSzAr& blocks = h->blocks.db;
  const uint64_t start = c->position;
  e->index = c->next;
  e->isDir = false;
  e->block = kNoBlock;
  e->offset = 0;
  e->hasCrc = false;
  e->crc = 0;

  // The SDK's assignment of entries to blocks and of streams to entries,
  // step by step, with its checks.
  bool emptyStream = false;
  RINOK(NextHeaderBit(&c->emptyStreams, &emptyStream))
  bool inBlock = true;
  if (emptyStream) {
    if (h->emptyFiles.present) {
      bool emptyFile = false;
      RINOK(NextHeaderBit(&c->emptyFiles, &emptyFile))
      e->isDir = !emptyFile;
    } else {
      e->isDir = true;
    }
    inBlock = c->streamsLeft != 0;
  }
  if (inBlock) {
    if (c->streamsLeft == 0) {
      for (;;) {
        if (c->block >= blocks.NumFolders) return SZ_ERROR_ARCHIVE;
        c->blockStart = start;
        c->blockStreams = 1;
        if (h->hasStreamCounts) RINOK(HeaderWindowNumber32(&c->streamCounts, &c->blockStreams))
        c->streamsLeft = c->blockStreams;
        if (c->blockStreams != 0) break;
        const uint64_t size = BlockSize(h, c->block);
        c->position += size;
        if (c->position < size) return SZ_ERROR_ARCHIVE;
        ++c->block;
      }
    }
    e->block = c->block;
    e->offset = start - c->blockStart;
    if (!emptyStream) {
      if (--c->streamsLeft == 0) {
        const uint64_t size = BlockSize(h, c->block);
        if (size < c->position - c->blockStart) return SZ_ERROR_ARCHIVE;
        c->position = c->blockStart + size;
        if (c->position < size) return SZ_ERROR_ARCHIVE;
        if (c->blockStreams == 1 && SzBitWithVals_Check(&blocks.FolderCRCs, c->block)) {
          e->hasCrc = true;
          e->crc = blocks.FolderCRCs.Vals[c->block];
        }
        ++c->block;
      } else {
        uint64_t size = 0;
        RINOK(HeaderWindowNumber(&c->sizes, &size))
        c->position += size;
        if (c->position < size) return SZ_ERROR_ARCHIVE;
      }
      if (!e->hasCrc && h->digestsDefined.present) {
        bool stored = false;
        RINOK(NextHeaderBit(&c->digestsDefined, &stored))
        if (stored) {
          unsigned char bytes[4];
          RINOK(HeaderWindowBytes(&c->digestValues, bytes, sizeof bytes))
          e->hasCrc = true;
          e->crc = ReadLe32(bytes);
        }
      }
    }
  }
  e->size = c->position - start;

  bool defined = false;
  RINOK(NextHeaderBit(&c->timesDefined, &defined))
  e->hasTime = defined;
  e->timeLow = e->timeHigh = 0;
  if (defined) {
    unsigned char bytes[8];
    RINOK(HeaderWindowBytes(&c->timeValues, bytes, sizeof bytes))
    e->timeLow = ReadLe32(bytes);
    e->timeHigh = ReadLe32(bytes + 4);
  }
  RINOK(NextHeaderBit(&c->attributesDefined, &defined))
  e->hasAttributes = defined;
  e->attributes = 0;
  if (defined) {
    unsigned char bytes[4];
    RINOK(HeaderWindowBytes(&c->attributeValues, bytes, sizeof bytes))
    e->attributes = ReadLe32(bytes);
  }

  if (c->names) {
    RINOK(ReadName(&c->nameWindow, name, capacity, &e->nameUnits))
  } else {
    // An archive without names gives each entry an empty one, as the SDK
    // does; a cursor without names leaves them unread (0).
    e->nameUnits = h->hasNames ? 0 : 1;
    if (name && capacity > 0) name[0] = 0;
  }
  ++c->next;
  return SZ_OK;
}

SRes FinishEntries(EntryCursor* c) {
  const ArchiveHeader* h = c->header;
  if (c->streamsLeft != 0) return SZ_ERROR_ARCHIVE;
  while (c->block < h->blocks.db.NumFolders) {
    if (!h->hasStreamCounts) return SZ_ERROR_ARCHIVE;
    uint32_t streams = 0;
    RINOK(HeaderWindowNumber32(&c->streamCounts, &streams))
    if (streams != 0) return SZ_ERROR_ARCHIVE;
    ++c->block;
  }
  if (h->hasStreamCounts && HeaderWindowLeft(&c->streamCounts) != 0) return SZ_ERROR_ARCHIVE;
  return SZ_OK;
}
