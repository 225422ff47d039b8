#include "extract/decode_worker.h"

#include <string.h>

#include "extract/block_reading.h"

namespace {

BlockStreams Streams(DecodeWorker* w) {
  ArchiveReader* reader = &w->archive->reader;
  return {&w->archive->header.blocks, &reader->fileStream.file, &reader->lookStream.vt, &reader->mainAlloc,
          &reader->tempAlloc};
}

bool StopWanted(void* worker) {
  DecodeWorker* w = static_cast<DecodeWorker*>(worker);
  AcquireSRWLockShared(&w->lock);
  bool stop = w->stop;
  ReleaseSRWLockShared(&w->lock);
  return stop;
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
bool DecodeBlock(DecodeWorker* w, FileCheck* files, uint32_t folder, unsigned char* scratch) {
  FileCheck& check = *files;
  StartFileCheck(&check, folder);
  BlockSource source;
  SRes failure = OpenBlockSource(&source, &w->decoder, Streams(w), folder);
  uint64_t offset = 0;
  bool more = true;
  while (more) {
    DecodedChunk* chunk = FreeChunk(w);
    if (!chunk) break;
    chunk->folder = folder;
    chunk->offset = offset;
    chunk->size = 0;
    chunk->judgesBytes = false;
    while (failure == SZ_OK && !BlockSourceDone(&source) && kDecodedChunkBytes - chunk->size >= kBlockMinimumRead) {
      size_t size = 0;
      failure = ReadBlockSource(&source, chunk->data + chunk->size, kDecodedChunkBytes - chunk->size, &size);
      bool damaged = false;
      size_t sound = CheckBlockBytes(&check, chunk->data + chunk->size, size, offset + chunk->size, &damaged);
      chunk->size += sound;
      if (damaged) {
        failure = VerdictAfterDamage(&source, scratch, kDecodedChunkBytes / 16, StopWanted, w);
        chunk->judgesBytes = true;
      } else if (check.failure != SZ_OK) {
        failure = check.failure;
      }
    }
    chunk->failure = failure;
    offset += chunk->size;
    more = failure == SZ_OK && !BlockSourceDone(&source);
    Publish(w);
  }
  CloseBlockSource(&source);
  return failure == SZ_OK && !more;
}

DWORD WINAPI DecodeAll(void* parameter) {
  DecodeWorker* w = static_cast<DecodeWorker*>(parameter);
  // Scratch for reading past a damaged file: the rest of its block decides
  // which failure the pass reports.
  unsigned char* scratch = w->memory + kDecodedChunkCount * kDecodedChunkBytes;
  FileCheck files;
  StartFileChecks(&files, &w->files);
  for (uint32_t block = NextDataBlock(&files); block != kNoBlock; block = NextDataBlock(&files))
    if (!DecodeBlock(w, &files, block, scratch)) break;
  // The header's store failed between two blocks: whoever reads on meets it.
  if (files.failure != SZ_OK) {
    DecodedChunk* chunk = FreeChunk(w);
    if (chunk) {
      chunk->folder = kNoBlock;
      chunk->offset = 0;
      chunk->size = 0;
      chunk->judgesBytes = false;
      chunk->failure = files.failure;
      Publish(w);
    }
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

SRes DecodeWorkerStart(DecodeWorker* w, PayloadArchive* archive) {
  w->archive = archive;
  ArchiveReader* reader = &archive->reader;
  StartEntryCursor(&w->files, &archive->header, false);
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
  if (w->memory) ISzAlloc_Free(&w->archive->reader.mainAlloc, w->memory);
  w->memory = nullptr;
}

void DecodeWorkerOpenFile(DecodeWorker* w, const ArchiveEntry& entry) {
  w->fileFolder = entry.block;
  w->fileOffset = entry.offset;
  w->fileRemaining = entry.size;
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
