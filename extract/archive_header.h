// The payload archive's header (its 7z database) read in parts, so that the
// setup program's memory does not grow with the number of files. The header
// is decoded (when it is compressed) or copied into a header store
// (extract/header_window.h) and checked whole once as the LZMA SDK's
// SzArEx_Open checks it; what stays in memory is the blocks' description
// (coders, packed streams, sizes: a few per block) and where each property
// vector of the entries starts in the store. The entries are then walked in
// archive order with cursors (extract/entry_cursor.h), as often as the
// extraction needs.
//
// Portable (the LZMA SDK's types, no Windows header): the fuzz targets open
// archives with it and compare what it lists with what the SDK lists.
//
// Results are the SDK's for the same archive: the same code for the same
// damage, SZ_OK for every archive it opens, the same entries. The one
// difference: a header with additional streams (which no 7-Zip writes for
// archives like the payload) is refused with SZ_ERROR_UNSUPPORTED.
#ifndef KX_EXTRACT_ARCHIVE_HEADER_H
#define KX_EXTRACT_ARCHIVE_HEADER_H

#include <stddef.h>
#include <stdint.h>

#include "7z.h"
#include "7zFile.h"
#include "extract/header_window.h"

// Where a vector of one bit an item is in the store. Absent: no item set.
struct HeaderBitVector {
  bool present;
  bool all;            // stored as "all defined": no bytes
  uint64_t bitsStart;  // otherwise the bits
  uint64_t bitsSize;
};

// A property with an optional value an entry (times, attributes).
struct HeaderValues {
  HeaderBitVector defined;
  uint64_t valuesStart;
  uint64_t valuesSize;
};

struct ArchiveHeader {
  // The blocks as the SDK describes them (db.*, dataPos); the arrays of the
  // entries stay empty. The block decoder and the SDK's whole-block decoding
  // read it as they read an opened database.
  CSzArEx blocks;
  const HeaderStore* store;
  uint32_t entryCount;
  HeaderBitVector emptyStreams;  // entries without data
  HeaderBitVector emptyFiles;    // of those, the empty files (the rest are folders)
  bool hasNames;
  uint64_t namesStart, namesSize;
  HeaderValues times;            // modification times, 8 bytes each
  HeaderValues attributes;       // 4 bytes each
  // The blocks' streams: how many each block holds, the sizes of all but
  // each block's last, and their CRCs.
  bool hasStreamCounts;
  uint64_t streamCountsStart, streamCountsSize;
  uint64_t sizesStart, sizesSize;
  HeaderBitVector digestsDefined;  // present when the archive stores CRCs
  uint64_t digestsStart, digestsSize;
};

void ArchiveHeaderInit(ArchiveHeader* header);

// Reads the header of the archive that starts at start in file, keeping its
// bytes in store, and checks it and every entry. SZ_OK, or the code
// SzArEx_Open gives for the archive (SZ_ERROR_NO_ARCHIVE, _UNSUPPORTED, _CRC,
// _ARCHIVE, _INPUT_EOF, _DATA, _MEM, _READ), or the store's failure.
SRes OpenArchiveHeader(ArchiveHeader* header, CSzFile* file, uint64_t start, const HeaderStore* store,
                       ISzAllocPtr alloc);

// Frees the blocks' description; safe after Init and after a failed Open.
void FreeArchiveHeader(ArchiveHeader* header, ISzAllocPtr alloc);

#endif
