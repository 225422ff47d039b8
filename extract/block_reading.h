// One solid block's bytes as the decode worker (extract/decode_worker.h)
// hands them on, and the check of each file's CRC as they go by. Portable
// (the blocks' description of extract/archive_header.h, the LZMA SDK's file,
// no Windows header), so that the fuzz
// targets run the very code the worker thread runs; the worker keeps the
// thread, the ring of chunks and its locks.
//
//   FileCheck check;  StartFileChecks(&check, &cursor);
//   folder = NextDataBlock(&check);  StartFileCheck(&check, folder);
//   BlockSource source;
//   SRes r = OpenBlockSource(&source, &decoder, streams, folder);
//   while (r == SZ_OK && !BlockSourceDone(&source)) {
//     r = ReadBlockSource(&source, buffer, capacity, &size);
//     sound = CheckBlockBytes(&check, buffer, size, offset, &damaged);
//     if (damaged) r = VerdictAfterDamage(&source, ...);
//   }
//   CloseBlockSource(&source);   // always, after any Open
#ifndef KX_EXTRACT_BLOCK_READING_H
#define KX_EXTRACT_BLOCK_READING_H

#include <stddef.h>
#include <stdint.h>

#include "7z.h"
#include "7zFile.h"
#include "extract/block_decoder.h"
#include "extract/entry_cursor.h"

// What a block is read from: the opened archive's blocks (an ArchiveHeader's
// or a database's), its file (which
// the streaming decoder reads) and the look-ahead stream over the same file
// (which the SDK's whole-block decoding reads).
struct BlockStreams {
  const CSzArEx* db;
  CSzFile* file;
  ILookInStreamPtr look;
  ISzAllocPtr alloc;      // the decoder's buffers and a whole block's bytes
  ISzAllocPtr tempAlloc;  // the SDK's scratch while it decodes a whole block
};

// The block's bytes from wherever they come: the streaming decoder, or the
// SDK's decoding of the whole block for layouts it does not stream (BCJ2).
struct BlockSource {
  BlockDecoder* decoder;  // null when the block was decoded whole
  unsigned char* whole;
  size_t wholeSize;
  size_t wholeRead;
  ISzAllocPtr alloc;
};

// Opens folder for reading, with decoder as the streaming decoder's state.
// SZ_OK, or the failure of the block as the SDK's whole-block decoding gives
// it (SZ_ERROR_MEM when the whole block's memory could not be had).
SRes OpenBlockSource(BlockSource* source, BlockDecoder* decoder, const BlockStreams& streams, uint32_t folder);

// Puts the next bytes into dest (capacity at least kBlockMinimumRead); *size
// is 0 on failure.
SRes ReadBlockSource(BlockSource* source, unsigned char* dest, size_t capacity, size_t* size);

bool BlockSourceDone(const BlockSource* source);

// Frees what Open allocated; needed after every Open, failed ones included.
void CloseBlockSource(BlockSource* source);

// After a damaged file, what the whole block's decoding reports: its own
// failure when the rest of it fails to decode, else SZ_ERROR_CRC. Reads the
// rest through scratch (capacity bytes); stopWanted, asked between reads,
// ends that early (SZ_ERROR_CRC then).
SRes VerdictAfterDamage(BlockSource* source, unsigned char* scratch, size_t capacity, bool (*stopWanted)(void*),
                        void* context);

// The files with data in archive order, block after block, each checked
// against its stored CRC as its bytes go by. One cursor over the entries
// serves all blocks: the next block with data is the one of the first file
// not yet checked.
struct FileCheck {
  EntryCursor* files;
  bool pending;        // entry is the next file with data, not yet checked
  ArchiveEntry entry;
  SRes failure;        // the cursor's failure: the files stop there
  uint32_t block;      // the block being read
  uint32_t crc;
};

// Starts the walk with files, a cursor at the first entry (names not needed).
void StartFileChecks(FileCheck* check, EntryCursor* files);

// The next block that holds file data, kNoBlock when none is left (or the
// cursor failed: check->failure).
uint32_t NextDataBlock(FileCheck* check);

// Starts the check of block, which NextDataBlock gave.
void StartFileCheck(FileCheck* check, uint32_t block);

// Checks the block's bytes [offset, offset + size), which follow the bytes
// checked before. Returns the length of the part that holds no damaged file,
// ending with a damaged file's last byte when one is found (then *damaged is
// set). A cursor failure on the way ends the block's files (check->failure).
size_t CheckBlockBytes(FileCheck* check, const unsigned char* data, size_t size, uint64_t offset, bool* damaged);

#endif
