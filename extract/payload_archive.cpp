#include "extract/payload_archive.h"

#include <string.h>

namespace {

// A file in the temporary folder, deleted when it is closed, also when the
// process is killed.
HANDLE CreateStoreFile() {
  wchar_t folder[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"kxh", 0, path) == 0)
    return INVALID_HANDLE_VALUE;
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

constexpr DWORD kLargestTransfer = 1u << 30;

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// Reads at an offset without the handle's file position, so that the pass
// and the decode worker may read at once.
bool ReadAt(HANDLE file, uint64_t offset, unsigned char* dest, size_t size) {
  while (size > 0) {
    OVERLAPPED at = At(offset);
    const DWORD want = size < kLargestTransfer ? static_cast<DWORD>(size) : kLargestTransfer;
    DWORD got = 0;
    if (!ReadFile(file, dest, want, &got, &at) || got == 0) return false;
    dest += got;
    offset += got;
    size -= got;
  }
  return true;
}

bool WriteAt(HANDLE file, uint64_t offset, const unsigned char* data, size_t size) {
  while (size > 0) {
    OVERLAPPED at = At(offset);
    const DWORD want = size < kLargestTransfer ? static_cast<DWORD>(size) : kLargestTransfer;
    DWORD written = 0;
    if (!WriteFile(file, data, want, &written, &at) || written == 0) return false;
    data += written;
    offset += written;
    size -= written;
  }
  return true;
}

SRes StoreRead(void* context, uint64_t offset, void* dest, size_t size) {
  const HeaderStoreFile* kept = static_cast<const HeaderStoreFile*>(context);
  if (offset > kept->size || size > kept->size - offset) return SZ_ERROR_READ;
  unsigned char* out = static_cast<unsigned char*>(dest);
  // The first bytes stay in memory also once the file holds the rest.
  if (offset < kept->memoryCapacity && kept->memory) {
    const uint64_t inMemory = kept->size < kept->memoryCapacity ? kept->size : kept->memoryCapacity;
    const size_t part = static_cast<size_t>(inMemory - offset < size ? inMemory - offset : size);
    memcpy(out, kept->memory + offset, part);
    out += part;
    offset += part;
    size -= part;
  }
  if (size == 0) return SZ_OK;
  return ReadAt(kept->file, offset - kept->memoryCapacity, out, size) ? SZ_OK : SZ_ERROR_READ;
}

SRes StoreWrite(void* context, uint64_t offset, const void* data, size_t size) {
  HeaderStoreFile* kept = static_cast<HeaderStoreFile*>(context);
  if (offset != kept->size) return SZ_ERROR_WRITE;
  const unsigned char* in = static_cast<const unsigned char*>(data);
  if (!kept->memory) {
    kept->memory = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, kHeaderMemoryBytes));
    if (!kept->memory) return SZ_ERROR_MEM;
    kept->memoryCapacity = kHeaderMemoryBytes;
  }
  if (offset < kept->memoryCapacity) {
    const size_t part = static_cast<size_t>(kept->memoryCapacity - offset < size ? kept->memoryCapacity - offset : size);
    memcpy(kept->memory + offset, in, part);
    in += part;
    offset += part;
    size -= part;
    kept->size += part;
  }
  if (size == 0) return SZ_OK;
  if (kept->file == INVALID_HANDLE_VALUE) kept->file = CreateStoreFile();
  if (kept->file == INVALID_HANDLE_VALUE) return SZ_ERROR_WRITE;
  if (!WriteAt(kept->file, offset - kept->memoryCapacity, in, size)) return SZ_ERROR_WRITE;
  kept->size += size;
  return SZ_OK;
}

}  // namespace

void PayloadArchiveInit(PayloadArchive* archive) {
  ArchiveReaderInit(&archive->reader);
  archive->kept.file = INVALID_HANDLE_VALUE;
  archive->kept.memory = nullptr;
  archive->kept.memoryCapacity = 0;
  archive->kept.size = 0;
  archive->store.context = &archive->kept;
  archive->store.read = StoreRead;
  archive->store.write = StoreWrite;
  ArchiveHeaderInit(&archive->header);
  archive->header.store = &archive->store;
}

WRes PayloadArchiveOpenFile(PayloadArchive* archive, const wchar_t* path) {
  return ArchiveReaderOpenFile(&archive->reader, path);
}

SRes PayloadArchiveOpen(PayloadArchive* archive, uint64_t start) {
  return OpenArchiveHeader(&archive->header, &archive->reader.fileStream.file, start, &archive->store,
                           &archive->reader.mainAlloc);
}

void PayloadArchiveClose(PayloadArchive* archive) {
  FreeArchiveHeader(&archive->header, &archive->reader.mainAlloc);
  if (archive->kept.file != INVALID_HANDLE_VALUE) CloseHandle(archive->kept.file);
  archive->kept.file = INVALID_HANDLE_VALUE;
  if (archive->kept.memory) HeapFree(GetProcessHeap(), 0, archive->kept.memory);
  archive->kept.memory = nullptr;
  archive->kept.memoryCapacity = 0;
  archive->kept.size = 0;
  ArchiveReaderClose(&archive->reader);
}
