#include "extract/decode_worker.h"

#include <string.h>

#include "7zCrc.h"

namespace {

const CSzArEx* Database(const DecodeWorker* w) { return &w->reader->db; }

uint64_t FileSize(const CSzArEx* db, uint32_t file) { return db->UnpackPositions[file + 1] - db->UnpackPositions[file]; }

// Where file's bytes start within its block.
uint64_t OffsetInBlock(const CSzArEx* db, uint32_t file) {
  const uint32_t folder = db->FileToFolder[file];
  return db->UnpackPositions[file] - db->UnpackPositions[db->FolderToFile[folder]];
}

bool HasData(const CSzArEx* db, uint32_t file, uint32_t folder) {
  return db->FileToFolder[file] == folder && FileSize(db, file) > 0;
}

// The files of one block in order, each checked against its stored CRC as
// its bytes go by.
struct FileCheck {
  const CSzArEx* db;
  uint32_t folder;
  uint32_t next;   // the file whose bytes come next
  uint32_t end;    // one past the block's last file
  uint64_t start;  // offset of next's first byte in the block
  uint32_t crc;
};

void SeekFile(FileCheck* check) {
  while (check->next < check->end && !HasData(check->db, check->next, check->folder)) ++check->next;
  if (check->next < check->end) check->start = OffsetInBlock(check->db, check->next);
  check->crc = CRC_INIT_VAL;
}

void StartCheck(FileCheck* check, const CSzArEx* db, uint32_t folder) {
  check->db = db;
  check->folder = folder;
  check->next = db->FolderToFile[folder];
  check->end = db->FolderToFile[folder + 1];
  SeekFile(check);
}

// Checks the block's bytes [offset, offset + size). Returns the length of
// the part that holds no damaged file, ending with a damaged file's last
// byte when one is found (then *damaged is set).
size_t CheckBytes(FileCheck* check, const unsigned char* data, size_t size, uint64_t offset, bool* damaged) {
  *damaged = false;
  size_t done = 0;
  while (done < size && check->next < check->end) {
    const uint64_t position = offset + done;
    const uint64_t fileEnd = check->start + FileSize(check->db, check->next);
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

// The block's bytes from wherever they come: the streaming decoder, or the
// SDK's decoding of the whole block for layouts it does not stream.
struct BlockSource {
  BlockDecoder* decoder;
  unsigned char* whole;
  size_t wholeSize;
  size_t wholeRead;
};

SRes OpenSource(DecodeWorker* w, uint32_t folder, BlockSource* source) {
  source->decoder = &w->decoder;
  source->whole = nullptr;
  source->wholeSize = 0;
  source->wholeRead = 0;
  ArchiveReader* reader = w->reader;
  BlockDecoderInit(&w->decoder);
  SRes opened = BlockDecoderOpen(&w->decoder, Database(w), folder, &reader->fileStream.file, &reader->mainAlloc);
  if (opened != SZ_ERROR_UNSUPPORTED) return opened;

  BlockDecoderFree(&w->decoder);
  source->decoder = nullptr;
  const uint64_t size = SzAr_GetFolderUnpackSize(&Database(w)->db, folder);
  if (size != static_cast<size_t>(size)) return SZ_ERROR_MEM;
  source->wholeSize = static_cast<size_t>(size);
  source->whole = static_cast<unsigned char*>(ISzAlloc_Alloc(&reader->mainAlloc, source->wholeSize));
  if (!source->whole) return SZ_ERROR_MEM;
  return SzAr_DecodeFolder(&Database(w)->db, folder, &reader->lookStream.vt, Database(w)->dataPos, source->whole,
                           source->wholeSize, &reader->tempAlloc);
}

SRes ReadSource(BlockSource* source, unsigned char* dest, size_t capacity, size_t* size) {
  if (source->decoder) return BlockDecoderRead(source->decoder, dest, capacity, size);
  size_t left = source->wholeSize - source->wholeRead;
  *size = left < capacity ? left : capacity;
  memcpy(dest, source->whole + source->wholeRead, *size);
  source->wholeRead += *size;
  return SZ_OK;
}

bool SourceDone(const BlockSource* source) {
  return source->decoder ? BlockDecoderDone(source->decoder) : source->wholeRead == source->wholeSize;
}

void CloseSource(DecodeWorker* w, BlockSource* source) {
  BlockDecoderFree(&w->decoder);
  ISzAlloc_Free(&w->reader->mainAlloc, source->whole);
  source->whole = nullptr;
}

bool StopWanted(DecodeWorker* w) {
  AcquireSRWLockShared(&w->lock);
  bool stop = w->stop;
  ReleaseSRWLockShared(&w->lock);
  return stop;
}

// After a damaged file, what the whole block's decoding reports: its own
// failure when the rest of it fails to decode, else the CRC error.
SRes DamageVerdict(DecodeWorker* w, BlockSource* source, unsigned char* scratch, size_t capacity) {
  while (!SourceDone(source)) {
    if (StopWanted(w)) break;
    size_t size = 0;
    SRes result = ReadSource(source, scratch, capacity, &size);
    if (result != SZ_OK) return result;
  }
  return SZ_ERROR_CRC;
}

// A free chunk to fill, or null when the pass wants no more.
DecodedChunk* FreeChunk(DecodeWorker* w) {
  AcquireSRWLockExclusive(&w->lock);
  while (w->ready == kDecodedChunkCount && !w->stop) SleepConditionVariableSRW(&w->changed, &w->lock, INFINITE, 0);
  DecodedChunk* chunk = w->stop ? nullptr : &w->chunks[(w->first + w->ready) % kDecodedChunkCount];
  ReleaseSRWLockExclusive(&w->lock);
  return chunk;
}

void Publish(DecodeWorker* w) {
  AcquireSRWLockExclusive(&w->lock);
  ++w->ready;
  ReleaseSRWLockExclusive(&w->lock);
  WakeAllConditionVariable(&w->changed);
}

// Decodes one block into chunks. False when the pass stopped or the block
// failed (its failure is published).
bool DecodeBlock(DecodeWorker* w, uint32_t folder, unsigned char* scratch) {
  FileCheck check;
  StartCheck(&check, Database(w), folder);
  BlockSource source;
  SRes failure = OpenSource(w, folder, &source);
  uint64_t offset = 0;
  bool more = true;
  while (more) {
    DecodedChunk* chunk = FreeChunk(w);
    if (!chunk) break;
    chunk->folder = folder;
    chunk->offset = offset;
    chunk->size = 0;
    chunk->judgesBytes = false;
    while (failure == SZ_OK && !SourceDone(&source) && kDecodedChunkBytes - chunk->size >= kBlockMinimumRead) {
      size_t size = 0;
      failure = ReadSource(&source, chunk->data + chunk->size, kDecodedChunkBytes - chunk->size, &size);
      bool damaged = false;
      size_t sound = CheckBytes(&check, chunk->data + chunk->size, size, offset + chunk->size, &damaged);
      chunk->size += sound;
      if (damaged) {
        failure = DamageVerdict(w, &source, scratch, kDecodedChunkBytes / 16);
        chunk->judgesBytes = true;
      }
    }
    chunk->failure = failure;
    offset += chunk->size;
    more = failure == SZ_OK && !SourceDone(&source);
    Publish(w);
  }
  CloseSource(w, &source);
  return failure == SZ_OK && !more;
}

DWORD WINAPI DecodeAll(void* parameter) {
  DecodeWorker* w = static_cast<DecodeWorker*>(parameter);
  const CSzArEx* db = Database(w);
  // Scratch for reading past a damaged file: the rest of its block decides
  // which failure the pass reports.
  unsigned char* scratch = w->memory + kDecodedChunkCount * kDecodedChunkBytes;
  for (uint32_t folder = 0; folder < db->db.NumFolders; ++folder) {
    bool used = false;
    for (uint32_t file = db->FolderToFile[folder]; file < db->FolderToFile[folder + 1] && !used; ++file)
      used = HasData(db, file, folder);
    if (used && !DecodeBlock(w, folder, scratch)) break;
  }
  AcquireSRWLockExclusive(&w->lock);
  w->finished = true;
  ReleaseSRWLockExclusive(&w->lock);
  WakeAllConditionVariable(&w->changed);
  return 0;
}

// The oldest published chunk, waiting for the worker; null when it has
// finished and everything is read.
DecodedChunk* HeadChunk(DecodeWorker* w) {
  AcquireSRWLockExclusive(&w->lock);
  while (w->ready == 0 && !w->finished) SleepConditionVariableSRW(&w->changed, &w->lock, INFINITE, 0);
  DecodedChunk* chunk = w->ready > 0 ? &w->chunks[w->first] : nullptr;
  ReleaseSRWLockExclusive(&w->lock);
  return chunk;
}

void ReleaseHead(DecodeWorker* w) {
  AcquireSRWLockExclusive(&w->lock);
  w->first = (w->first + 1) % kDecodedChunkCount;
  --w->ready;
  w->taken = 0;
  ReleaseSRWLockExclusive(&w->lock);
  WakeAllConditionVariable(&w->changed);
}

SRes Verdict(DecodeWorker* w) {
  AcquireSRWLockShared(&w->lock);
  const DecodedChunk* chunk = w->ready > 0 ? &w->chunks[w->first] : nullptr;
  ReleaseSRWLockShared(&w->lock);
  if (chunk && chunk->judgesBytes && w->taken == chunk->size) return chunk->failure;
  return SZ_OK;
}

}  // namespace

void DecodeWorkerInit(DecodeWorker* worker) {
  memset(worker, 0, sizeof(*worker));
  InitializeSRWLock(&worker->lock);
  InitializeConditionVariable(&worker->changed);
  BlockDecoderInit(&worker->decoder);
}

SRes DecodeWorkerStart(DecodeWorker* w, ArchiveReader* reader) {
  w->reader = reader;
  const size_t scratchBytes = kDecodedChunkBytes / 16;
  w->memory = static_cast<unsigned char*>(
      ISzAlloc_Alloc(&reader->mainAlloc, kDecodedChunkCount * kDecodedChunkBytes + scratchBytes));
  if (!w->memory) return SZ_ERROR_MEM;
  for (unsigned i = 0; i < kDecodedChunkCount; ++i) w->chunks[i].data = w->memory + i * kDecodedChunkBytes;
  w->thread = CreateThread(nullptr, 0, DecodeAll, w, 0, nullptr);
  if (!w->thread) {
    DecodeWorkerStop(w);
    return SZ_ERROR_MEM;
  }
  return SZ_OK;
}

void DecodeWorkerStop(DecodeWorker* w) {
  if (w->thread) {
    AcquireSRWLockExclusive(&w->lock);
    w->stop = true;
    ReleaseSRWLockExclusive(&w->lock);
    WakeAllConditionVariable(&w->changed);
    WaitForSingleObject(w->thread, INFINITE);
    CloseHandle(w->thread);
    w->thread = nullptr;
  }
  if (w->memory) ISzAlloc_Free(&w->reader->mainAlloc, w->memory);
  w->memory = nullptr;
}

void DecodeWorkerOpenFile(DecodeWorker* w, uint32_t index) {
  const CSzArEx* db = Database(w);
  w->fileFolder = db->FileToFolder[index];
  w->fileOffset = OffsetInBlock(db, index);
  w->fileRemaining = FileSize(db, index);
}

SRes DecodeWorkerRead(DecodeWorker* w, const unsigned char** data, size_t* size) {
  *data = nullptr;
  *size = 0;
  if (w->fileRemaining == 0) return Verdict(w);
  for (;;) {
    DecodedChunk* chunk = HeadChunk(w);
    // The worker ended without the bytes this file needs.
    if (!chunk) return SZ_ERROR_FAIL;
    if (w->taken == chunk->size) {
      if (chunk->failure != SZ_OK) return chunk->failure;
      ReleaseHead(w);
      continue;
    }
    const uint64_t position = chunk->offset + w->taken;
    const size_t left = chunk->size - w->taken;
    if (chunk->folder < w->fileFolder) {
      w->taken = chunk->size;
      continue;
    }
    if (chunk->folder == w->fileFolder && position < w->fileOffset) {
      w->taken += static_cast<size_t>(w->fileOffset - position < left ? w->fileOffset - position : left);
      continue;
    }
    // Past the file's start: the pass read out of order.
    if (chunk->folder != w->fileFolder || position != w->fileOffset) return SZ_ERROR_FAIL;
    const size_t piece = static_cast<size_t>(w->fileRemaining < left ? w->fileRemaining : left);
    *data = chunk->data + w->taken;
    *size = piece;
    w->taken += piece;
    w->fileOffset += piece;
    w->fileRemaining -= piece;
    return SZ_OK;
  }
}
