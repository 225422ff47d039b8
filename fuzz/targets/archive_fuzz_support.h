// What the two archive targets share: the allocator with the targets' memory
// limit, the input as an open file for the SDK's file layer, and the header
// store in memory (a temporary file in the programs).
#ifndef KX_FUZZ_TARGETS_ARCHIVE_FUZZ_SUPPORT_H
#define KX_FUZZ_TARGETS_ARCHIVE_FUZZ_SUPPORT_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "7zTypes.h"

namespace kxfuzz {

constexpr size_t kAllocationLimit = size_t{64} << 20;

inline void* Allocate(ISzAllocPtr, size_t size) {
  return size == 0 || size > kAllocationLimit ? nullptr : malloc(size);
}
inline void Release(ISzAllocPtr, void* address) { free(address); }
inline const ISzAlloc kAlloc = {Allocate, Release};

inline int g_file = -1;

// The archive as an open file: the SDK's file layer reads it with read() and
// lseek() as it reads the program file with ReadFile on Windows.
inline bool PutInFile(const uint8_t* data, size_t size) {
  if (g_file < 0) g_file = memfd_create("archive", 0);
  if (g_file < 0 || ftruncate(g_file, 0) != 0) abort();
  for (size_t done = 0; done < size;) {
    const ssize_t written = pwrite(g_file, data + done, size - done, static_cast<off_t>(done));
    if (written <= 0) abort();
    done += static_cast<size_t>(written);
  }
  return lseek(g_file, 0, SEEK_SET) == 0;
}

// The header store, refusing more than the allocation limit as a full disk
// would.
struct MemoryStore {
  std::string bytes;
};

inline SRes StoreRead(void* context, uint64_t offset, void* dest, size_t size) {
  const MemoryStore* store = static_cast<const MemoryStore*>(context);
  if (offset > store->bytes.size() || size > store->bytes.size() - offset) abort();  // the reader stays inside
  memcpy(dest, store->bytes.data() + offset, size);
  return SZ_OK;
}

inline SRes StoreWrite(void* context, uint64_t offset, const void* data, size_t size) {
  MemoryStore* store = static_cast<MemoryStore*>(context);
  if (offset != store->bytes.size()) abort();  // appends only
  if (store->bytes.size() + size > kAllocationLimit) return SZ_ERROR_WRITE;
  store->bytes.append(static_cast<const char*>(data), size);
  return SZ_OK;
}

}  // namespace kxfuzz

#endif
