#include "extract/block_reading.h"

#include <string.h>

#include "7zCrc.h"

uint64_t EntryDataSize(const CSzArEx* db, uint32_t file) {
  return db->UnpackPositions[file + 1] - db->UnpackPositions[file];
}

uint64_t OffsetInBlock(const CSzArEx* db, uint32_t file) {
  const uint32_t folder = db->FileToFolder[file];
  return db->UnpackPositions[file] - db->UnpackPositions[db->FolderToFile[folder]];
}

bool HasBlockData(const CSzArEx* db, uint32_t file, uint32_t folder) {
  return db->FileToFolder[file] == folder && EntryDataSize(db, file) > 0;
}

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

void SeekFile(FileCheck* check) {
  while (check->next < check->end && !HasBlockData(check->db, check->next, check->folder)) ++check->next;
  if (check->next < check->end) check->start = OffsetInBlock(check->db, check->next);
  check->crc = CRC_INIT_VAL;
}

}  // namespace

void StartFileCheck(FileCheck* check, const CSzArEx* db, uint32_t folder) {
  check->db = db;
  check->folder = folder;
  check->next = db->FolderToFile[folder];
  check->end = db->FolderToFile[folder + 1];
  SeekFile(check);
}

size_t CheckBlockBytes(FileCheck* check, const unsigned char* data, size_t size, uint64_t offset, bool* damaged) {
  *damaged = false;
  size_t done = 0;
  while (done < size && check->next < check->end) {
    const uint64_t position = offset + done;
    const uint64_t fileEnd = check->start + EntryDataSize(check->db, check->next);
    if (position < check->start) {
      // Bytes of the block that belong to no file.
      done += static_cast<size_t>(check->start - position < size - done ? check->start - position : size - done);
      continue;
    }
    const size_t piece = static_cast<size_t>(fileEnd - position < size - done ? fileEnd - position : size - done);
    const bool hasCrc = SzBitWithVals_Check(&check->db->CRCs, check->next);
    if (hasCrc) check->crc = CrcUpdate(check->crc, data + done, piece);
    done += piece;
    if (offset + done < fileEnd) break;
    if (hasCrc && CRC_GET_DIGEST(check->crc) != check->db->CRCs.Vals[check->next]) {
      *damaged = true;
      return done;
    }
    ++check->next;
    SeekFile(check);
  }
  return size;
}
