// The archive reading sequence over the LZMA SDK's 7z decoder, for the small
// runtime archive, which it reads whole (the payload's header is read in
// parts: extract/payload_archive.h). Usage, C style:
//
//   ArchiveReader reader;
//   ArchiveReaderInit(&reader);               // always, so Close is always safe
//   if (ArchiveReaderOpenFile(&reader, path) == 0 && <seek or search> == 0)
//     result = ArchiveReaderOpenDatabase(&reader);
//   ... entries: ArchiveEntryNameLength / ArchiveEntryName / ArchiveExtractEntry
//   ArchiveReaderClose(&reader);              // frees everything, every path
//
// Each solid block is decoded whole into the block buffer, which stays cached
// across the entries of one pass, so an archive read in order decodes every
// block exactly once.
#ifndef KX_LAUNCHER_ARCHIVE_READER_H
#define KX_LAUNCHER_ARCHIVE_READER_H

#include <stddef.h>
#include <stdint.h>

#include "7z.h"
#include "7zFile.h"

constexpr size_t kLookAheadBufferSize = 16 * 1024;
constexpr uint32_t kNoCachedBlock = 0xFFFFFFFF;

struct ArchiveReader {
  ISzAlloc mainAlloc;
  ISzAlloc tempAlloc;
  CFileInStream fileStream;
  CLookToRead2 lookStream;
  unsigned char lookBuffer[kLookAheadBufferSize];
  CSzArEx db;
  // Decoded-block cache kept across the entries of one pass.
  uint32_t blockIndex;
  unsigned char* blockBuffer;
  size_t blockBufferSize;
};

// Sets up allocators, CRC tables, stream tables and an empty database.
void ArchiveReaderInit(ArchiveReader* reader);

// Opens the file read-only (shared for reading). 0 or a Windows error code.
WRes ArchiveReaderOpenFile(ArchiveReader* reader, const wchar_t* path);

// Moves the file position to an absolute offset. 0 or a Windows error code.
WRes ArchiveReaderSeek(ArchiveReader* reader, uint64_t position);

// Opens the archive that starts at the current file position.
SRes ArchiveReaderOpenDatabase(ArchiveReader* reader);

// Frees the block buffer and the database and closes the file.
void ArchiveReaderClose(ArchiveReader* reader);

// The open file's handle, for searches done outside the SDK.
HANDLE ArchiveReaderFile(const ArchiveReader* reader);

uint32_t ArchiveEntryCount(const ArchiveReader* reader);

// Length of the entry's name in UTF-16 units, the terminating zero included.
size_t ArchiveEntryNameLength(const ArchiveReader* reader, uint32_t index);

// Writes the name ('/' separated, zero-terminated) into dest, which must hold
// ArchiveEntryNameLength units.
void ArchiveEntryName(const ArchiveReader* reader, uint32_t index, wchar_t* dest);

bool ArchiveEntryIsDir(const ArchiveReader* reader, uint32_t index);
uint64_t ArchiveEntrySize(const ArchiveReader* reader, uint32_t index);

// Decodes the entry (its whole block, unless cached) and checks its CRC.
// An entry without data (folder, empty file) gives size 0 and keeps the cache.
// On success the entry's bytes are reader->blockBuffer[*offset .. + *size).
SRes ArchiveExtractEntry(ArchiveReader* reader, uint32_t index, size_t* offset, size_t* size);

// Stored modification time and attributes; false when the archive has none.
bool ArchiveEntryTime(const ArchiveReader* reader, uint32_t index, uint32_t* high, uint32_t* low);
bool ArchiveEntryAttributes(const ArchiveReader* reader, uint32_t index, uint32_t* attributes);

#endif
