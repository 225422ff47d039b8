// The order of the checks and the code each gives follow the LZMA SDK's
// 7zArcIn.c, step by step, so that an archive is refused (or opened) exactly
// as SzArEx_Open would; only the per-entry vectors are left where they are in
// the store instead of being copied into arrays.
#include "extract/archive_header.h"

#include <string.h>

#include "7zCrc.h"
#include "extract/block_decoder.h"
#include "extract/entry_cursor.h"

namespace {

enum HeaderId : uint64_t {
  kEnd = 0,
  kHeader = 1,
  kArchiveProperties = 2,
  kAdditionalStreamsInfo = 3,
  kMainStreamsInfo = 4,
  kFilesInfo = 5,
  kPackInfo = 6,
  kUnpackInfo = 7,
  kSubStreamsInfo = 8,
  kSize = 9,
  kCrc = 10,
  kFolder = 11,
  kCodersUnpackSize = 12,
  kNumUnpackStream = 13,
  kEmptyStream = 14,
  kEmptyFile = 15,
  kName = 17,
  kCTime = 18,
  kMTime = 20,
  kWinAttributes = 21,
  kEncodedHeader = 23,
};

constexpr size_t kStartHeaderSize = 32;
constexpr unsigned kMaxCoders = 64;
constexpr unsigned kMaxCoderStreams = 64;

uint32_t Le32(const unsigned char* b) {
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
         static_cast<uint32_t>(b[3]) << 24;
}

uint64_t Le64(const unsigned char* b) { return Le32(b) | static_cast<uint64_t>(Le32(b + 4)) << 32; }

SRes SkipData(HeaderWindow* w) {
  uint64_t size = 0;
  RINOK(HeaderWindowNumber(w, &size))
  if (size > HeaderWindowLeft(w)) return SZ_ERROR_ARCHIVE;
  HeaderWindowSkip(w, size);
  return SZ_OK;
}

SRes WaitId(HeaderWindow* w, uint64_t id) {
  for (;;) {
    uint64_t type = 0;
    RINOK(HeaderWindowNumber(w, &type))
    if (type == id) return SZ_OK;
    if (type == kEnd) return SZ_ERROR_ARCHIVE;
    RINOK(SkipData(w))
  }
}

// Counts the set bits of items bits read from w.
SRes CountBits(HeaderWindow* w, uint64_t items, uint64_t* count) {
  *count = 0;
  unsigned byte = 0;
  for (uint64_t i = 0; i < items; ++i) {
    if ((i & 7) == 0) RINOK(HeaderWindowByte(w, &byte))
    *count += (byte >> (7 - (i & 7))) & 1;
  }
  return SZ_OK;
}

// The SDK's ReadBitVector, leaving the bits in the store: *defined is the
// number of items set.
SRes ReadBitVector(HeaderWindow* w, uint64_t items, HeaderBitVector* vector, uint64_t* defined) {
  unsigned all = 0;
  RINOK(HeaderWindowByte(w, &all))
  const uint64_t bytes = (items + 7) >> 3;
  vector->present = bytes != 0;
  vector->all = all != 0;
  vector->bitsStart = w->position;
  vector->bitsSize = 0;
  *defined = bytes == 0 ? 0 : items;
  if (bytes == 0 || all != 0) return SZ_OK;
  if (bytes > HeaderWindowLeft(w)) return SZ_ERROR_ARCHIVE;
  vector->bitsSize = bytes;
  RINOK(CountBits(w, items, defined))
  w->position = vector->bitsStart + bytes;
  return SZ_OK;
}

SRes SkipBitUi32s(HeaderWindow* w, uint64_t items) {
  unsigned all = 0;
  RINOK(HeaderWindowByte(w, &all))
  uint64_t defined = items;
  if (!all) {
    const uint64_t bytes = (items + 7) >> 3;
    if (bytes > HeaderWindowLeft(w)) return SZ_ERROR_ARCHIVE;
    const uint64_t start = w->position;
    RINOK(CountBits(w, items, &defined))
    w->position = start + bytes;
  }
  if (defined > (HeaderWindowLeft(w) >> 2)) return SZ_ERROR_ARCHIVE;
  HeaderWindowSkip(w, defined * 4);
  return SZ_OK;
}

SRes SkipNumbers(HeaderWindow* w, uint32_t count) {
  for (; count != 0; --count) {
    unsigned first = 0;
    RINOK(HeaderWindowByte(w, &first))
    unsigned length = 1;
    for (; first & 0x80; ++length) first <<= 1;
    // The first byte was read already.
    if (HeaderWindowLeft(w) < length - 1) return SZ_ERROR_ARCHIVE;
    HeaderWindowSkip(w, length - 1);
  }
  return SZ_OK;
}

template <typename T>
SRes Allocate(T** items, size_t count, ISzAllocPtr alloc) {
  *items = static_cast<T*>(ISzAlloc_Alloc(alloc, count * sizeof(T)));
  return *items ? SZ_OK : SZ_ERROR_MEM;
}

// The SDK's ReadBitUi32s for the blocks' CRCs, into memory (one a block).
SRes ReadBlockCrcs(HeaderWindow* w, uint32_t count, CSzBitUi32s* crcs, ISzAllocPtr alloc) {
  if (crcs->Defs) return SZ_ERROR_ARCHIVE;
  unsigned all = 0;
  RINOK(HeaderWindowByte(w, &all))
  const size_t bytes = (static_cast<size_t>(count) + 7) >> 3;
  if (bytes == 0) {
    crcs->Vals = nullptr;
    return SZ_OK;
  }
  if (all == 0) {
    if (bytes > HeaderWindowLeft(w)) return SZ_ERROR_ARCHIVE;
    RINOK(Allocate(&crcs->Defs, bytes, alloc))
    RINOK(HeaderWindowBytes(w, crcs->Defs, bytes))
  } else {
    RINOK(Allocate(&crcs->Defs, bytes, alloc))
    memset(crcs->Defs, 0xFF, bytes);
    if (count & 7) crcs->Defs[bytes - 1] = static_cast<Byte>(0xFF00u >> (count & 7));
  }
  RINOK(Allocate(&crcs->Vals, count, alloc))
  for (uint32_t i = 0; i < count; ++i) {
    crcs->Vals[i] = 0;
    if (!SzBitArray_Check(crcs->Defs, i)) continue;
    unsigned char value[4];
    if (HeaderWindowLeft(w) < 4) return SZ_ERROR_ARCHIVE;
    RINOK(HeaderWindowBytes(w, value, 4))
    crcs->Vals[i] = Le32(value);
  }
  return SZ_OK;
}

SRes ReadPackInfo(CSzAr* p, HeaderWindow* w, ISzAllocPtr alloc) {
  RINOK(HeaderWindowNumber32(w, &p->NumPackStreams))
  RINOK(WaitId(w, kSize))
  RINOK(Allocate(&p->PackPositions, static_cast<size_t>(p->NumPackStreams) + 1, alloc))
  uint64_t sum = 0;
  for (uint32_t i = 0;; ++i) {
    p->PackPositions[i] = sum;
    if (i == p->NumPackStreams) break;
    uint64_t size = 0;
    RINOK(HeaderWindowNumber(w, &size))
    sum += size;
    if (sum < size) return SZ_ERROR_ARCHIVE;
  }
  for (;;) {
    uint64_t type = 0;
    RINOK(HeaderWindowNumber(w, &type))
    if (type == kEnd) return SZ_OK;
    if (type == kCrc) {
      RINOK(SkipBitUi32s(w, p->NumPackStreams))
      continue;
    }
    RINOK(SkipData(w))
  }
}

// One block's coders as the SDK's ReadUnpackInfo scans them.
SRes ScanBlock(HeaderWindow* w, uint32_t* coders, uint32_t* packStreams, uint32_t* mainStream) {
  uint32_t numCoders = 0, inStreams = 0;
  RINOK(HeaderWindowNumber32(w, &numCoders))
  if (numCoders == 0 || numCoders > kMaxCoders) return SZ_ERROR_UNSUPPORTED;
  for (uint32_t c = 0; c < numCoders; ++c) {
    unsigned mainByte = 0;
    RINOK(HeaderWindowByte(w, &mainByte))
    if (mainByte & 0xC0) return SZ_ERROR_UNSUPPORTED;
    const unsigned idSize = mainByte & 0xF;
    if (idSize > 8) return SZ_ERROR_UNSUPPORTED;
    if (idSize > HeaderWindowLeft(w)) return SZ_ERROR_ARCHIVE;
    HeaderWindowSkip(w, idSize);
    uint32_t coderInStreams = 1;
    if (mainByte & 0x10) {
      uint32_t coderOutStreams = 0;
      RINOK(HeaderWindowNumber32(w, &coderInStreams))
      RINOK(HeaderWindowNumber32(w, &coderOutStreams))
      if (coderInStreams > kMaxCoderStreams || coderOutStreams != 1) return SZ_ERROR_UNSUPPORTED;
    }
    inStreams += coderInStreams;
    if (mainByte & 0x20) {
      uint32_t propsSize = 0;
      RINOK(HeaderWindowNumber32(w, &propsSize))
      if (propsSize > HeaderWindowLeft(w)) return SZ_ERROR_ARCHIVE;
      HeaderWindowSkip(w, propsSize);
    }
  }
  *coders = numCoders;
  *packStreams = 1;
  *mainStream = 0;
  if (numCoders == 1 && inStreams == 1) return SZ_OK;
  bool streamUsed[kMaxCoderStreams] = {};
  bool coderUsed[kMaxCoders] = {};
  const uint32_t bonds = numCoders - 1;
  if (inStreams < bonds) return SZ_ERROR_ARCHIVE;
  if (inStreams > kMaxCoderStreams) return SZ_ERROR_UNSUPPORTED;
  for (uint32_t i = 0; i < bonds; ++i) {
    uint32_t index = 0;
    RINOK(HeaderWindowNumber32(w, &index))
    if (index >= inStreams || streamUsed[index]) return SZ_ERROR_ARCHIVE;
    streamUsed[index] = true;
    RINOK(HeaderWindowNumber32(w, &index))
    if (index >= numCoders || coderUsed[index]) return SZ_ERROR_ARCHIVE;
    coderUsed[index] = true;
  }
  *packStreams = inStreams - bonds;
  if (*packStreams != 1) {
    for (uint32_t i = 0; i < *packStreams; ++i) {
      uint32_t index = 0;
      RINOK(HeaderWindowNumber32(w, &index))
      if (index >= inStreams || streamUsed[index]) return SZ_ERROR_ARCHIVE;
      streamUsed[index] = true;
    }
  }
  for (uint32_t i = 0;;) {
    if (!coderUsed[i]) {
      *mainStream = i;
      return SZ_OK;
    }
    if (++i == numCoders) return SZ_ERROR_ARCHIVE;
  }
}

// The "external" byte before coders, times and attributes: their data in one
// of the archive's additional streams, which payload archives never have. The
// stream's index is read first, so that a cut header fails as the SDK's does.
SRes RefuseExternal(HeaderWindow* w) {
  unsigned external = 0;
  RINOK(HeaderWindowByte(w, &external))
  if (external == 0) return SZ_OK;
  uint32_t index = 0;
  RINOK(HeaderWindowNumber32(w, &index))
  return SZ_ERROR_ARCHIVE;
}

SRes ReadUnpackInfo(CSzAr* p, HeaderWindow* w, uint32_t maxBlocks, ISzAllocPtr alloc) {
  RINOK(WaitId(w, kFolder))
  uint32_t count = 0;
  RINOK(HeaderWindowNumber32(w, &count))
  if (count > maxBlocks) return SZ_ERROR_UNSUPPORTED;
  p->NumFolders = count;
  // Only additional streams could hold the coders, and there are none.
  RINOK(RefuseExternal(w))
  RINOK(Allocate(&p->FoCodersOffsets, static_cast<size_t>(count) + 1, alloc))
  RINOK(Allocate(&p->FoStartPackStreamIndex, static_cast<size_t>(count) + 1, alloc))
  RINOK(Allocate(&p->FoToCoderUnpackSizes, static_cast<size_t>(count) + 1, alloc))
  if (count != 0) RINOK(Allocate(&p->FoToMainUnpackSizeIndex, count, alloc))
  const uint64_t codersStart = w->position;
  uint32_t packStreamIndex = 0, coderOutStreams = 0;
  uint32_t block = 0;
  for (; block < count; ++block) {
    p->FoCodersOffsets[block] = static_cast<size_t>(w->position - codersStart);
    uint32_t coders = 0, packStreams = 0, mainStream = 0;
    RINOK(ScanBlock(w, &coders, &packStreams, &mainStream))
    p->FoStartPackStreamIndex[block] = packStreamIndex;
    p->FoToCoderUnpackSizes[block] = coderOutStreams;
    p->FoToMainUnpackSizeIndex[block] = static_cast<Byte>(mainStream);
    coderOutStreams += coders;
    if (coderOutStreams < coders) return SZ_ERROR_UNSUPPORTED;
    if (packStreams > p->NumPackStreams - packStreamIndex) return SZ_ERROR_ARCHIVE;
    packStreamIndex += packStreams;
  }
  if (coderOutStreams >= (size_t{1} << (sizeof(size_t) * 8 - 4))) return SZ_ERROR_UNSUPPORTED;
  p->FoToCoderUnpackSizes[block] = coderOutStreams;
  p->FoStartPackStreamIndex[block] = packStreamIndex;
  const size_t codersSize = static_cast<size_t>(w->position - codersStart);
  p->FoCodersOffsets[block] = codersSize;
  if (codersSize != 0) {
    RINOK(Allocate(&p->CodersData, codersSize, alloc))
    HeaderWindow coders;
    OpenHeaderWindow(&coders, w->store, codersStart, codersSize);
    RINOK(HeaderWindowBytes(&coders, p->CodersData, codersSize))
  }
  RINOK(WaitId(w, kCodersUnpackSize))
  if (coderOutStreams != 0) RINOK(Allocate(&p->CoderUnpackSizes, coderOutStreams, alloc))
  for (uint32_t i = 0; i < coderOutStreams; ++i) RINOK(HeaderWindowNumber(w, &p->CoderUnpackSizes[i]))
  for (;;) {
    uint64_t type = 0;
    RINOK(HeaderWindowNumber(w, &type))
    if (type == kEnd) return SZ_OK;
    if (type == kCrc) {
      RINOK(ReadBlockCrcs(w, count, &p->FolderCRCs, alloc))
      continue;
    }
    RINOK(SkipData(w))
  }
}

// What the streams' description says about the streams within the blocks.
struct StreamsInfo {
  uint32_t totalStreams;
  uint32_t digests;
  bool hasCounts;
  uint64_t countsStart, countsSize;
  uint64_t sizesStart, sizesSize;
  bool hasCrcs;
  uint64_t crcsStart, crcsSize;
};

uint64_t CountSet(const CSzBitUi32s& bits, uint32_t items) {
  uint64_t count = 0;
  for (uint32_t i = 0; i < items; ++i) count += SzBitArray_Check(bits.Defs, i) ? 1 : 0;
  return count;
}

SRes ReadSubStreamsInfo(const CSzAr* p, HeaderWindow* w, StreamsInfo* s) {
  uint64_t type = 0;
  const uint32_t blocks = p->NumFolders;
  uint32_t streams = blocks, digests = blocks, sizesInData = 0;
  for (;;) {
    RINOK(HeaderWindowNumber(w, &type))
    if (type == kNumUnpackStream) {
      if (s->hasCounts) return SZ_ERROR_UNSUPPORTED;
      s->hasCounts = true;
      s->countsStart = w->position;
      streams = 0;
      digests = 0;
      for (uint32_t i = 0; i < blocks; ++i) {
        uint32_t count = 0;
        RINOK(HeaderWindowNumber32(w, &count))
        streams += count;
        if (streams < count) return SZ_ERROR_UNSUPPORTED;
        if (count) sizesInData += count - 1;
        if (count != 1 || !SzBitWithVals_Check(&p->FolderCRCs, i)) digests += count;
      }
      s->countsSize = w->position - s->countsStart;
      continue;
    }
    if (type == kCrc || type == kSize || type == kEnd) break;
    RINOK(SkipData(w))
  }
  if (!s->hasCounts && p->FolderCRCs.Defs) digests = blocks - static_cast<uint32_t>(CountSet(p->FolderCRCs, blocks));
  s->totalStreams = streams;
  s->digests = digests;
  if (type == kSize) {
    s->sizesStart = w->position;
    RINOK(SkipNumbers(w, sizesInData))
    s->sizesSize = w->position - s->sizesStart;
    RINOK(HeaderWindowNumber(w, &type))
  }
  for (;;) {
    if (type == kEnd) return SZ_OK;
    if (type == kCrc) {
      if (s->hasCrcs) return SZ_ERROR_UNSUPPORTED;
      s->hasCrcs = true;
      s->crcsStart = w->position;
      RINOK(SkipBitUi32s(w, digests))
      s->crcsSize = w->position - s->crcsStart;
    } else {
      RINOK(SkipData(w))
    }
    RINOK(HeaderWindowNumber(w, &type))
  }
}

SRes ReadStreamsInfo(CSzAr* p, HeaderWindow* w, uint32_t maxBlocks, uint64_t* dataOffset, StreamsInfo* s,
                     ISzAllocPtr alloc) {
  *s = StreamsInfo();
  *dataOffset = 0;
  uint64_t type = 0;
  RINOK(HeaderWindowNumber(w, &type))
  if (type == kPackInfo) {
    RINOK(HeaderWindowNumber(w, dataOffset))
    if (*dataOffset > p->RangeLimit) return SZ_ERROR_ARCHIVE;
    RINOK(ReadPackInfo(p, w, alloc))
    if (p->PackPositions[p->NumPackStreams] > p->RangeLimit - *dataOffset) return SZ_ERROR_ARCHIVE;
    RINOK(HeaderWindowNumber(w, &type))
  }
  if (type == kUnpackInfo) {
    RINOK(ReadUnpackInfo(p, w, maxBlocks, alloc))
    RINOK(HeaderWindowNumber(w, &type))
  }
  if (type == kSubStreamsInfo) {
    RINOK(ReadSubStreamsInfo(p, w, s))
    RINOK(HeaderWindowNumber(w, &type))
  } else {
    s->totalStreams = p->NumFolders;
  }
  return type == kEnd ? SZ_OK : SZ_ERROR_UNSUPPORTED;
}

// ---- Copying and decoding into the store ----------------------------------

constexpr size_t kCopyBytes = 16 * 1024;

SRes Append(const HeaderStore* store, uint64_t* size, const void* data, size_t bytes) {
  RINOK(store->write(store->context, *size, data, bytes))
  *size += bytes;
  return SZ_OK;
}

// Decodes the one block of an encoded header into the store behind what is
// there (*storeSize grows), as the SDK's SzReadAndDecodePackedStreams does
// into memory: streamed when the block decoder takes the layout, else whole.
SRes DecodeHeaderBlock(const CSzArEx* packed, CSzFile* file, const HeaderStore* store, uint64_t* storeSize,
                       ISzAllocPtr alloc) {
  const uint64_t unpackSize = SzAr_GetFolderUnpackSize(&packed->db, 0);
  if (static_cast<size_t>(unpackSize) != unpackSize) return SZ_ERROR_MEM;
  BlockDecoder decoder;
  BlockDecoderInit(&decoder);
  SRes result = BlockDecoderOpen(&decoder, packed, 0, file, alloc);
  if (result == SZ_OK) {
    unsigned char* piece = static_cast<unsigned char*>(ISzAlloc_Alloc(alloc, kCopyBytes));
    if (!piece) result = SZ_ERROR_MEM;
    while (result == SZ_OK && !BlockDecoderDone(&decoder)) {
      size_t size = 0;
      result = BlockDecoderRead(&decoder, piece, kCopyBytes, &size);
      if (result == SZ_OK) result = Append(store, storeSize, piece, size);
    }
    ISzAlloc_Free(alloc, piece);
    BlockDecoderFree(&decoder);
    return result;
  }
  BlockDecoderFree(&decoder);
  if (result != SZ_ERROR_UNSUPPORTED) return result;

  // A layout decoded whole (BCJ2 and the like): the SDK's own decoding.
  CFileInStream fileStream;
  fileStream.file = *file;
  FileInStream_CreateVTable(&fileStream);
  fileStream.wres = 0;
  CLookToRead2 look;
  LookToRead2_CreateVTable(&look, False);
  unsigned char* lookBuffer = static_cast<unsigned char*>(ISzAlloc_Alloc(alloc, kCopyBytes));
  unsigned char* whole = static_cast<unsigned char*>(ISzAlloc_Alloc(alloc, static_cast<size_t>(unpackSize)));
  if (!lookBuffer || (!whole && unpackSize != 0)) {
    result = SZ_ERROR_MEM;
  } else {
    look.buf = lookBuffer;
    look.bufSize = kCopyBytes;
    look.realStream = &fileStream.vt;
    LookToRead2_INIT(&look);
    result = SzAr_DecodeFolder(&packed->db, 0, &look.vt, packed->dataPos, whole, static_cast<size_t>(unpackSize),
                               alloc);
    if (result == SZ_OK) result = Append(store, storeSize, whole, static_cast<size_t>(unpackSize));
  }
  ISzAlloc_Free(alloc, whole);
  ISzAlloc_Free(alloc, lookBuffer);
  return result;
}

// ---- The entries' properties --------------------------------------------------

// The names: an even number of bytes, as many zero-terminated names as
// entries, nothing after the last.
SRes CheckNames(HeaderWindow* w, uint32_t entries) {
  const uint64_t size = HeaderWindowLeft(w);
  if (entries == 0) return size == 0 ? SZ_OK : SZ_ERROR_ARCHIVE;
  if (size < 2) return SZ_ERROR_ARCHIVE;
  uint64_t names = 0;
  unsigned last = 1;
  while (HeaderWindowLeft(w) != 0) {
    unsigned low = 0, high = 0;
    RINOK(HeaderWindowByte(w, &low))
    RINOK(HeaderWindowByte(w, &high))
    last = low | high << 8;
    if (last == 0) ++names;
  }
  if (last != 0) return SZ_ERROR_ARCHIVE;
  return names == entries ? SZ_OK : SZ_ERROR_ARCHIVE;
}

// Times and attributes: which entries have one, then the values of those.
SRes ReadValues(HeaderWindow* w, uint32_t entries, size_t valueBytes, HeaderValues* values) {
  uint64_t defined = 0;
  RINOK(ReadBitVector(w, entries, &values->defined, &defined))
  RINOK(RefuseExternal(w))
  values->valuesStart = w->position;
  values->valuesSize = defined * valueBytes;
  return HeaderWindowLeft(w) == values->valuesSize ? SZ_OK : SZ_ERROR_ARCHIVE;
}

SRes ReadFilesInfo(ArchiveHeader* h, HeaderWindow* w, const StreamsInfo& s) {
  uint32_t entries = 0;
  RINOK(HeaderWindowNumber32(w, &entries))
  h->entryCount = entries;
  uint64_t emptyStreams = 0;
  // The SDK keeps a pointer to each vector, set even when it is empty.
  bool emptyStreamsSeen = false, emptyFilesSeen = false, timesSeen = false, creationSeen = false;
  for (;;) {
    uint64_t type = 0;
    RINOK(HeaderWindowNumber(w, &type))
    if (type == kEnd) break;
    uint64_t size = 0;
    RINOK(HeaderWindowNumber(w, &size))
    if (size > HeaderWindowLeft(w)) return SZ_ERROR_ARCHIVE;
    HeaderWindow property;
    OpenHeaderWindow(&property, w->store, w->position, size);
    HeaderWindowSkip(w, size);
    switch (type) {
      case kEmptyStream:
        if (emptyStreamsSeen || emptyFilesSeen) return SZ_ERROR_ARCHIVE;
        emptyStreamsSeen = true;
        if (((static_cast<uint64_t>(entries) + 7) >> 3) != size) return SZ_ERROR_ARCHIVE;
        // An archive of no entries has none (the SDK keeps no vector then either).
        h->emptyStreams = {entries != 0, false, property.position, size};
        RINOK(CountBits(&property, entries, &emptyStreams))
        break;
      case kEmptyFile:
        if (emptyFilesSeen) return SZ_ERROR_ARCHIVE;
        emptyFilesSeen = true;
        if (((emptyStreams + 7) >> 3) != size) return SZ_ERROR_ARCHIVE;
        h->emptyFiles = {size != 0, false, property.position, size};
        break;
      case kName: {
        if (h->hasNames) return SZ_ERROR_ARCHIVE;
        unsigned external = 0;
        RINOK(HeaderWindowByte(&property, &external))
        if (external != 0) {
          uint32_t index = 0;
          RINOK(HeaderWindowNumber32(&property, &index))
          return SZ_ERROR_ARCHIVE;
        }
        if (HeaderWindowLeft(&property) & 1) return SZ_ERROR_ARCHIVE;
        h->hasNames = true;
        h->namesStart = property.position;
        h->namesSize = HeaderWindowLeft(&property);
        RINOK(CheckNames(&property, entries))
        break;
      }
      case kWinAttributes:
        if (h->attributes.defined.present) return SZ_ERROR_ARCHIVE;
        RINOK(ReadValues(&property, entries, 4, &h->attributes))
        break;
      case kMTime:
        if (timesSeen) return SZ_ERROR_ARCHIVE;
        timesSeen = entries != 0;
        RINOK(ReadValues(&property, entries, 8, &h->times))
        break;
      case kCTime: {
        // Checked as the SDK reads it; the programs do not use it.
        if (creationSeen) return SZ_ERROR_ARCHIVE;
        creationSeen = entries != 0;
        HeaderValues creation;
        RINOK(ReadValues(&property, entries, 8, &creation))
        break;
      }
      default:
        break;
    }
  }
  if (entries - static_cast<uint32_t>(emptyStreams) != s.totalStreams) return SZ_ERROR_ARCHIVE;
  for (;;) {
    uint64_t type = 0;
    RINOK(HeaderWindowNumber(w, &type))
    if (type == kEnd) break;
    RINOK(SkipData(w))
  }
  // The streams and their CRCs as the entries take them.
  h->hasStreamCounts = s.hasCounts;
  h->streamCountsStart = s.countsStart;
  h->streamCountsSize = s.countsSize;
  h->sizesStart = s.sizesStart;
  h->sizesSize = s.sizesSize;
  if (s.hasCrcs && s.crcsSize != 0) {
    HeaderWindow crcs;
    OpenHeaderWindow(&crcs, w->store, s.crcsStart, s.crcsSize);
    unsigned all = 0;
    RINOK(HeaderWindowByte(&crcs, &all))
    const uint64_t bitsSize = all ? 0 : (static_cast<uint64_t>(s.digests) + 7) >> 3;
    h->digestsDefined = {true, all != 0, crcs.position, bitsSize};
    h->digestsStart = crcs.position + bitsSize;
    h->digestsSize = s.crcsStart + s.crcsSize - h->digestsStart;
  }

  // Every entry once, as the SDK walks them when it opens the archive.
  EntryCursor cursor;
  StartEntryCursor(&cursor, h, false);
  while (EntriesLeft(&cursor)) {
    ArchiveEntry entry;
    RINOK(NextEntry(&cursor, &entry, nullptr, 0))
  }
  return FinishEntries(&cursor);
}

SRes ReadHeader(ArchiveHeader* h, HeaderWindow* w, uint64_t afterStartHeader, ISzAllocPtr alloc) {
  StreamsInfo streams = StreamsInfo();
  uint64_t type = 0;
  RINOK(HeaderWindowNumber(w, &type))
  if (type == kArchiveProperties) {
    for (;;) {
      uint64_t property = 0;
      RINOK(HeaderWindowNumber(w, &property))
      if (property == kEnd) break;
      RINOK(SkipData(w))
    }
    RINOK(HeaderWindowNumber(w, &type))
  }
  if (type == kAdditionalStreamsInfo) return SZ_ERROR_UNSUPPORTED;
  if (type == kMainStreamsInfo) {
    RINOK(ReadStreamsInfo(&h->blocks.db, w, uint32_t{1} << 30, &h->blocks.dataPos, &streams, alloc))
    h->blocks.dataPos += afterStartHeader;
    RINOK(HeaderWindowNumber(w, &type))
  }
  if (type == kEnd) return SZ_OK;
  if (type != kFilesInfo) return SZ_ERROR_ARCHIVE;
  return ReadFilesInfo(h, w, streams);
}

SRes OpenHeader(ArchiveHeader* h, CSzFile* file, uint64_t start, const HeaderStore* store, ISzAllocPtr alloc) {
  unsigned char startHeader[kStartHeaderSize];
  Int64 position = static_cast<Int64>(start);
  if (File_Seek(file, &position, SZ_SEEK_SET) != 0) return SZ_ERROR_READ;
  size_t got = sizeof startHeader;
  if (File_Read(file, startHeader, &got) != 0) return SZ_ERROR_READ;
  if (got != sizeof startHeader) return SZ_ERROR_NO_ARCHIVE;
  const uint64_t afterStartHeader = start + kStartHeaderSize;
  if (memcmp(startHeader, k7zSignature, k7zSignatureSize) != 0) return SZ_ERROR_NO_ARCHIVE;
  if (startHeader[6] != 0) return SZ_ERROR_UNSUPPORTED;  // the major version
  if (CrcCalc(startHeader + 12, 20) != Le32(startHeader + 8)) return SZ_ERROR_CRC;
  const uint64_t nextOffset = Le64(startHeader + 12);
  const uint64_t nextSize = Le64(startHeader + 20);
  const uint32_t nextCrc = Le32(startHeader + 28);
  h->blocks.db.RangeLimit = nextOffset;
  if (nextOffset >= uint64_t{1} << 62 || nextSize >= uint64_t{1} << 48) return SZ_ERROR_NO_ARCHIVE;
  if (nextSize == 0) return nextOffset != 0 || nextCrc != 0 ? SZ_ERROR_NO_ARCHIVE : SZ_OK;
  UInt64 length = 0;
  if (File_GetLength(file, &length) != 0) return SZ_ERROR_READ;
  if (length - afterStartHeader < nextOffset + nextSize) return SZ_ERROR_INPUT_EOF;

  // The header as stored, copied into the store with its CRC checked.
  position = static_cast<Int64>(afterStartHeader + nextOffset);
  if (File_Seek(file, &position, SZ_SEEK_SET) != 0) return SZ_ERROR_READ;
  unsigned char* piece = static_cast<unsigned char*>(ISzAlloc_Alloc(alloc, kCopyBytes));
  if (!piece) return SZ_ERROR_MEM;
  uint64_t storeSize = 0;
  uint32_t crc = CRC_INIT_VAL;
  SRes result = SZ_OK;
  while (result == SZ_OK && storeSize < nextSize) {
    size_t size = nextSize - storeSize < kCopyBytes ? static_cast<size_t>(nextSize - storeSize) : kCopyBytes;
    if (File_Read(file, piece, &size) != 0)
      result = SZ_ERROR_READ;
    else if (size == 0)
      result = SZ_ERROR_INPUT_EOF;
    else {
      crc = CrcUpdate(crc, piece, size);
      result = Append(store, &storeSize, piece, size);
    }
  }
  ISzAlloc_Free(alloc, piece);
  RINOK(result)
  if (CRC_GET_DIGEST(crc) != nextCrc) return SZ_ERROR_ARCHIVE;

  HeaderWindow w;
  OpenHeaderWindow(&w, store, 0, nextSize);
  uint64_t type = 0;
  RINOK(HeaderWindowNumber(&w, &type))
  if (type == kEncodedHeader) {
    CSzArEx packed;
    SzArEx_Init(&packed);
    packed.db.RangeLimit = nextOffset;
    StreamsInfo ignored;
    result = ReadStreamsInfo(&packed.db, &w, 1, &packed.dataPos, &ignored, alloc);
    packed.dataPos += afterStartHeader;
    if (result == SZ_OK && packed.db.NumFolders == 0) result = SZ_ERROR_ARCHIVE;
    const uint64_t decodedStart = storeSize;
    if (result == SZ_OK) result = DecodeHeaderBlock(&packed, file, store, &storeSize, alloc);
    SzArEx_Free(&packed, alloc);
    RINOK(result)
    OpenHeaderWindow(&w, store, decodedStart, storeSize - decodedStart);
    RINOK(HeaderWindowNumber(&w, &type))
  }
  if (type != kHeader) return SZ_ERROR_UNSUPPORTED;
  RINOK(ReadHeader(h, &w, afterStartHeader, alloc))
  return HeaderWindowLeft(&w) == 0 ? SZ_OK : SZ_ERROR_ARCHIVE;
}

}  // namespace

void ArchiveHeaderInit(ArchiveHeader* h) {
  memset(h, 0, sizeof(*h));
  SzArEx_Init(&h->blocks);
}

SRes OpenArchiveHeader(ArchiveHeader* h, CSzFile* file, uint64_t start, const HeaderStore* store,
                       ISzAllocPtr alloc) {
  FreeArchiveHeader(h, alloc);
  h->store = store;
  SRes result = OpenHeader(h, file, start, store, alloc);
  if (result != SZ_OK) {
    FreeArchiveHeader(h, alloc);
    h->store = store;
  }
  return result;
}

void FreeArchiveHeader(ArchiveHeader* h, ISzAllocPtr alloc) {
  SzArEx_Free(&h->blocks, alloc);
  const HeaderStore* store = h->store;
  ArchiveHeaderInit(h);
  h->store = store;
}
