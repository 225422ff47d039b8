#include "launcher/archive_reader.h"

#include <windows.h>

#include "7zCrc.h"

namespace {

// Both allocator pairs use the process heap; a request for 0 bytes yields
// null and freeing null does nothing.
void* HeapAllocate(ISzAllocPtr, size_t size) {
  return size == 0 ? nullptr : HeapAlloc(GetProcessHeap(), 0, size);
}

void HeapRelease(ISzAllocPtr, void* address) {
  if (address) HeapFree(GetProcessHeap(), 0, address);
}

}  // namespace

void ArchiveReaderInit(ArchiveReader* reader) {
  reader->mainAlloc.Alloc = HeapAllocate;
  reader->mainAlloc.Free = HeapRelease;
  reader->tempAlloc.Alloc = HeapAllocate;
  reader->tempAlloc.Free = HeapRelease;
  CrcGenerateTable();

  File_Construct(&reader->fileStream.file);
  FileInStream_CreateVTable(&reader->fileStream);
  reader->fileStream.wres = 0;
  LookToRead2_CreateVTable(&reader->lookStream, False);
  reader->lookStream.buf = reader->lookBuffer;
  reader->lookStream.bufSize = kLookAheadBufferSize;
  reader->lookStream.realStream = &reader->fileStream.vt;
  LookToRead2_INIT(&reader->lookStream);

  SzArEx_Init(&reader->db);
  reader->blockIndex = kNoCachedBlock;
  reader->blockBuffer = nullptr;
  reader->blockBufferSize = 0;
}

WRes ArchiveReaderOpenFile(ArchiveReader* reader, const wchar_t* path) {
  return InFile_OpenW(&reader->fileStream.file, path);
}

WRes ArchiveReaderSeek(ArchiveReader* reader, uint64_t position) {
  Int64 offset = static_cast<Int64>(position);
  return File_Seek(&reader->fileStream.file, &offset, SZ_SEEK_SET);
}

SRes ArchiveReaderOpenDatabase(ArchiveReader* reader) {
  LookToRead2_INIT(&reader->lookStream);
  return SzArEx_Open(&reader->db, &reader->lookStream.vt, &reader->mainAlloc, &reader->tempAlloc);
}

void ArchiveReaderClose(ArchiveReader* reader) {
  ISzAlloc_Free(&reader->mainAlloc, reader->blockBuffer);
  reader->blockBuffer = nullptr;
  reader->blockBufferSize = 0;
  reader->blockIndex = kNoCachedBlock;
  SzArEx_Free(&reader->db, &reader->mainAlloc);
  File_Close(&reader->fileStream.file);
}

HANDLE ArchiveReaderFile(const ArchiveReader* reader) { return reader->fileStream.file.handle; }

uint32_t ArchiveEntryCount(const ArchiveReader* reader) { return reader->db.NumFiles; }

size_t ArchiveEntryNameLength(const ArchiveReader* reader, uint32_t index) {
  return SzArEx_GetFileNameUtf16(&reader->db, index, nullptr);
}

void ArchiveEntryName(const ArchiveReader* reader, uint32_t index, wchar_t* dest) {
  static_assert(sizeof(wchar_t) == sizeof(UInt16), "UTF-16 names");
  SzArEx_GetFileNameUtf16(&reader->db, index, reinterpret_cast<UInt16*>(dest));
}

bool ArchiveEntryIsDir(const ArchiveReader* reader, uint32_t index) {
  return SzArEx_IsDir(&reader->db, index) != 0;
}

uint64_t ArchiveEntrySize(const ArchiveReader* reader, uint32_t index) {
  return SzArEx_GetFileSize(&reader->db, index);
}

SRes ArchiveExtractEntry(ArchiveReader* reader, uint32_t index, size_t* offset, size_t* size) {
  // Folders and empty files have no data. The SDK would answer for them by
  // dropping the cached block, and the next file of that block would decode
  // it all over again.
  if (reader->db.FileToFolder[index] == kNoCachedBlock) {
    *offset = 0;
    *size = 0;
    return SZ_OK;
  }
  UInt32 blockIndex = reader->blockIndex;
  Byte* buffer = reader->blockBuffer;
  size_t bufferSize = reader->blockBufferSize;
  SRes result = SzArEx_Extract(&reader->db, &reader->lookStream.vt, index, &blockIndex, &buffer,
                               &bufferSize, offset, size, &reader->mainAlloc, &reader->tempAlloc);
  reader->blockIndex = blockIndex;
  reader->blockBuffer = buffer;
  reader->blockBufferSize = bufferSize;
  return result;
}

bool ArchiveEntryTime(const ArchiveReader* reader, uint32_t index, uint32_t* high, uint32_t* low) {
  if (!SzBitWithVals_Check(&reader->db.MTime, index)) return false;
  *high = reader->db.MTime.Vals[index].High;
  *low = reader->db.MTime.Vals[index].Low;
  return true;
}

bool ArchiveEntryAttributes(const ArchiveReader* reader, uint32_t index, uint32_t* attributes) {
  if (!SzBitWithVals_Check(&reader->db.Attribs, index)) return false;
  *attributes = reader->db.Attribs.Vals[index];
  return true;
}
