#include "extract/block_reading.h"

#include <string.h>

#include "7zCrc.h"

SRes OpenBlockSource(BlockSource* source, BlockDecoder* decoder, const BlockStreams& streams, uint32_t folder) {
  source->decoder = decoder;
  source->whole = nullptr;
  source->wholeSize = 0;
  source->wholeRead = 0;
  source->alloc = streams.alloc;
  BlockDecoderInit(decoder);
  SRes opened = BlockDecoderOpen(decoder, streams.db, folder, streams.file, streams.alloc);
  if (opened != SZ_ERROR_UNSUPPORTED) return opened;

  BlockDecoderFree(decoder);
  source->decoder = nullptr;
  const uint64_t size = SzAr_GetFolderUnpackSize(&streams.db->db, folder);
  if (size != static_cast<size_t>(size)) return SZ_ERROR_MEM;
  source->wholeSize = static_cast<size_t>(size);
  source->whole = static_cast<unsigned char*>(ISzAlloc_Alloc(streams.alloc, source->wholeSize));
  if (!source->whole) return SZ_ERROR_MEM;
  return SzAr_DecodeFolder(&streams.db->db, folder, streams.look, streams.db->dataPos, source->whole,
                           source->wholeSize, streams.tempAlloc);
}

SRes ReadBlockSource(BlockSource* source, unsigned char* dest, size_t capacity, size_t* size) {
  if (source->decoder) return BlockDecoderRead(source->decoder, dest, capacity, size);
  size_t left = source->wholeSize - source->wholeRead;
  *size = left < capacity ? left : capacity;
  memcpy(dest, source->whole + source->wholeRead, *size);
  source->wholeRead += *size;
  return SZ_OK;
}

bool BlockSourceDone(const BlockSource* source) {
  return source->decoder ? BlockDecoderDone(source->decoder) : source->wholeRead == source->wholeSize;
}

void CloseBlockSource(BlockSource* source) {
  if (source->decoder) BlockDecoderFree(source->decoder);
  ISzAlloc_Free(source->alloc, source->whole);
  source->whole = nullptr;
}

SRes VerdictAfterDamage(BlockSource* source, unsigned char* scratch, size_t capacity, bool (*stopWanted)(void*),
                        void* context) {
  while (!BlockSourceDone(source)) {
    if (stopWanted(context)) break;
    size_t size = 0;
    SRes result = ReadBlockSource(source, scratch, capacity, &size);
    if (result != SZ_OK) return result;
  }
  return SZ_ERROR_CRC;
}

namespace {

// Reads on to the next entry with data.
void ReadAhead(FileCheck* check) {
  check->pending = false;
  check->crc = CRC_INIT_VAL;
  while (check->failure == SZ_OK && EntriesLeft(check->files)) {
    check->failure = NextEntry(check->files, &check->entry, nullptr, 0);
    if (check->failure == SZ_OK && check->entry.block != kNoBlock && check->entry.size > 0) {
      check->pending = true;
      return;
    }
  }
}

bool InBlock(const FileCheck* check) { return check->pending && check->entry.block == check->block; }

}  // namespace

void StartFileChecks(FileCheck* check, EntryCursor* files) {
  check->files = files;
  check->failure = SZ_OK;
  check->block = kNoBlock;
  ReadAhead(check);
}

uint32_t NextDataBlock(FileCheck* check) { return check->pending ? check->entry.block : kNoBlock; }

void StartFileCheck(FileCheck* check, uint32_t block) {
  check->block = block;
  check->crc = CRC_INIT_VAL;
}

size_t CheckBlockBytes(FileCheck* check, const unsigned char* data, size_t size, uint64_t offset, bool* damaged) {
  *damaged = false;
  size_t done = 0;
  while (done < size && InBlock(check)) {
    const uint64_t position = offset + done;
    const uint64_t start = check->entry.offset;
    const uint64_t fileEnd = start + check->entry.size;
    if (position < start) {
      // Bytes of the block that belong to no file.
      done += static_cast<size_t>(start - position < size - done ? start - position : size - done);
      continue;
    }
    const size_t piece = static_cast<size_t>(fileEnd - position < size - done ? fileEnd - position : size - done);
    const bool hasCrc = check->entry.hasCrc;
    if (hasCrc) check->crc = CrcUpdate(check->crc, data + done, piece);
    done += piece;
    if (offset + done < fileEnd) break;
    if (hasCrc && CRC_GET_DIGEST(check->crc) != check->entry.crc) {
      *damaged = true;
      return done;
    }
    ReadAhead(check);
  }
  return size;
}
