// The payload archive opened for reading with its header in parts
// (extract/archive_header.h): the archive file, and the header kept in a
// header store that is memory while it is small and a temporary file of the
// run beyond that, so that a payload of a million files keeps a few hundred
// KiB of it in memory. The runtime archive, small and read whole, goes on
// with the SDK's database (launcher/archive_reader.h).
//
//   PayloadArchive archive;
//   PayloadArchiveInit(&archive);            // always: Close is then safe
//   if (PayloadArchiveOpenFile(&archive, path) == 0) r = PayloadArchiveOpen(&archive, start);
//   ... cursors over &archive.header, the decode worker over &archive
//   PayloadArchiveClose(&archive);           // every path
#ifndef KX_EXTRACT_PAYLOAD_ARCHIVE_H
#define KX_EXTRACT_PAYLOAD_ARCHIVE_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "extract/archive_header.h"
#include "launcher/archive_reader.h"

// The header stays in memory up to this size; a larger one goes to the file.
constexpr size_t kHeaderMemoryBytes = 1 << 20;

struct HeaderStoreFile {
  HANDLE file;           // INVALID_HANDLE_VALUE until the header outgrows memory
  unsigned char* memory; // the first bytes, or all of them while they fit
  size_t memoryCapacity;
  uint64_t size;
};

struct PayloadArchive {
  ArchiveReader reader;  // the archive file and the allocators; its database stays empty
  HeaderStoreFile kept;
  HeaderStore store;
  ArchiveHeader header;
};

void PayloadArchiveInit(PayloadArchive* archive);

// Opens the file read-only (shared for reading). 0 or a Windows error code.
WRes PayloadArchiveOpenFile(PayloadArchive* archive, const wchar_t* path);

// Reads and checks the header of the archive at start. SZ_OK or the SDK's
// code for the archive (archive_header.h); SZ_ERROR_WRITE or SZ_ERROR_MEM
// when the header could be kept nowhere.
SRes PayloadArchiveOpen(PayloadArchive* archive, uint64_t start);

// Frees the header, deletes its file and closes the archive.
void PayloadArchiveClose(PayloadArchive* archive);

#endif
