// Streaming decoder of one solid block (a 7z folder): the block's bytes come
// out front to back in pieces of the caller's size, so memory follows the
// dictionary and a fixed input buffer, never the block's size.
//
// It handles the layouts kxpack writes for payloads: Copy, LZMA or LZMA2,
// alone or followed by the x86 branch filter (BCJ). Every other layout (the
// BCJ2 runtime archive, other filters) is refused with SZ_ERROR_UNSUPPORTED, and
// the caller decodes that block whole with the SDK.
//
// Results are those of the SDK's whole-block decoding for the same bytes:
// the same code for the same damage, the block's own CRC included.
//
//   BlockDecoder decoder;
//   BlockDecoderInit(&decoder);                      // always: Free is then safe
//   SRes r = BlockDecoderOpen(&decoder, db, folder, file, alloc);
//   while (r == SZ_OK && !BlockDecoderDone(&decoder)) r = BlockDecoderRead(&decoder, buf, cap, &size);
//   BlockDecoderFree(&decoder);
#ifndef KX_EXTRACT_BLOCK_DECODER_H
#define KX_EXTRACT_BLOCK_DECODER_H

#include <stddef.h>
#include <stdint.h>

#include "7z.h"
#include "7zFile.h"
#include "Lzma2Dec.h"
#include "LzmaDec.h"

// Input read from the archive file at a time.
constexpr size_t kBlockInputBytes = 256 * 1024;
// Smallest piece a caller may ask for: the filter holds back up to 4 bytes.
constexpr size_t kBlockMinimumRead = 64;

enum class BlockCoder { kCopy, kLzma, kLzma2 };

struct BlockDecoder {
  CSzFile* file;  // positioned and read by the decoder only while it is open
  ISzAllocPtr alloc;
  BlockCoder coder;
  bool x86Filter;
  uint64_t packRemaining;  // bytes of the packed stream not yet read
  uint64_t unpackSize;
  uint64_t decoded;        // bytes out of the main coder
  uint64_t produced;       // bytes handed to the caller, after the filter
  bool hasBlockCrc;
  uint32_t blockCrc;
  uint32_t crc;            // running CRC of the produced bytes
  // LZMA and LZMA2 decode into a ring of the dictionary's size.
  CLzma2Dec lzma2;         // its .decoder is the LZMA decoder for both
  ELzmaStatus status;
  unsigned char* dictionary;
  size_t dictionarySize;
  unsigned char* input;
  size_t inputPos, inputEnd;
  // The x86 filter converts an instruction only with the 4 bytes after it
  // in sight; the unconverted tail waits for the next piece.
  uint32_t filterState;
  unsigned char held[16];
  size_t heldSize;
};

void BlockDecoderInit(BlockDecoder* decoder);

// Prepares the decoding of folder of db; the archive file is read from the
// block's packed data on. SZ_OK; SZ_ERROR_UNSUPPORTED for a layout to decode
// whole (nothing allocated then); otherwise the SDK's code for a damaged block
// description (SZ_ERROR_DATA, SZ_ERROR_FAIL), no memory (SZ_ERROR_MEM) or a
// failed seek or read (SZ_ERROR_READ).
SRes BlockDecoderOpen(BlockDecoder* decoder, const CSzArEx* db, uint32_t folder, CSzFile* file, ISzAllocPtr alloc);

// Puts the next bytes of the block into dest (capacity at least
// kBlockMinimumRead): *size > 0 until the block is done. The call that hands
// out the last byte has checked the block's end (end marker, all input used,
// CRC). On failure *size is 0 and the result is the code the whole block's
// decoding gives.
SRes BlockDecoderRead(BlockDecoder* decoder, unsigned char* dest, size_t capacity, size_t* size);

inline bool BlockDecoderDone(const BlockDecoder* decoder) { return decoder->produced == decoder->unpackSize; }

// Frees everything Open allocated; safe after Init or a failed Open.
void BlockDecoderFree(BlockDecoder* decoder);

#endif
