// The payload's decoded bytes, made ahead of the extraction pass by one
// worker thread, so that decoding and writing files overlap on two cores.
//
// The worker decodes the solid blocks that hold file data in archive order
// into a ring of kDecodedChunkCount chunks of kDecodedChunkBytes and waits
// while the ring is full. It checks each file's CRC as the file's last byte
// is decoded. Memory is the ring plus one block decoder (its dictionary and
// input buffer), whatever the payload; only a block whose layout cannot be
// streamed (BCJ2) is decoded whole, as the SDK does.
//
// Threads: the worker alone reads the archive file (the reader's file and
// look stream); both read the archive's header through cursors of their own
// (the store reads at offsets, the blocks' description nobody changes). Start and Stop run on the pass's thread, and Stop joins the worker
// on every path. The pass reads the files' bytes in archive order:
//
//   DecodeWorker worker;
//   DecodeWorkerInit(&worker);
//   SRes r = DecodeWorkerStart(&worker, &archive);
//   for each file entry with data:
//     DecodeWorkerOpenFile(&worker, entry);
//     while (r == SZ_OK && (r = DecodeWorkerRead(&worker, &data, &size)) == SZ_OK && size > 0) use(data, size);
//   DecodeWorkerStop(&worker);
#ifndef KX_EXTRACT_DECODE_WORKER_H
#define KX_EXTRACT_DECODE_WORKER_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "extract/block_decoder.h"
#include "extract/entry_cursor.h"
#include "extract/payload_archive.h"

constexpr size_t kDecodedChunkBytes = 1 << 20;
constexpr unsigned kDecodedChunkCount = 8;

struct DecodedChunk {
  unsigned char* data;
  size_t size;
  uint32_t folder;
  uint64_t offset;          // of data[0] within its block's bytes
  // What follows the chunk's bytes; SZ_OK when nothing does. When
  // judgesBytes is set it condemns the file whose last byte ends the chunk
  // (its CRC did not match); otherwise whoever reads on meets it.
  SRes failure;
  bool judgesBytes;
};

struct DecodeWorker {
  PayloadArchive* archive;
  HANDLE thread;
  unsigned char* memory;
  SRWLOCK lock;
  CONDITION_VARIABLE changed;
  // Guarded by lock: the published chunks are chunks[first .. first + ready).
  DecodedChunk chunks[kDecodedChunkCount];
  unsigned first;
  unsigned ready;
  bool stop;      // the pass wants no more
  bool finished;  // the worker publishes nothing more
  // The pass's side: bytes of chunks[first] already read, the file being read.
  size_t taken;
  uint32_t fileFolder;
  uint64_t fileOffset;
  uint64_t fileRemaining;
  // The worker's side: its decoder and its cursor over the files.
  BlockDecoder decoder;
  EntryCursor files;
};

void DecodeWorkerInit(DecodeWorker* worker);

// Starts decoding the open archive. SZ_OK, or SZ_ERROR_MEM when the ring or
// the thread could not be had (nothing runs then).
SRes DecodeWorkerStart(DecodeWorker* worker, PayloadArchive* archive);

// Makes the worker stop, joins it and frees everything. Safe after Init, a
// failed Start, and more than once.
void DecodeWorkerStop(DecodeWorker* worker);

// Reads are now served from the entry's bytes (it must have data, and come
// after the file read before). Bytes in between are passed over.
void DecodeWorkerOpenFile(DecodeWorker* worker, const ArchiveEntry& entry);

// The next piece of the open file: *data stays valid until the next call.
// *size is 0 once the file's bytes are all read; that call gives the verdict
// on them: SZ_OK, or the code the SDK's whole-block decoding gives for the
// block (SZ_ERROR_CRC for the file's CRC). A failure in the middle of the
// file comes with *size 0 as well.
SRes DecodeWorkerRead(DecodeWorker* worker, const unsigned char** data, size_t* size);

#endif
