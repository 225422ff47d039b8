// A small read window over the payload archive's header where it is kept
// (the header store: a temporary file of the run, or memory while it is
// small), so that the header's property vectors are read a few bytes at a
// time and never whole. Portable: the store is two functions, which the
// programs back with a Windows file and the fuzz targets with memory.
//
// A window reads [start, start + size) of the store front to back, as the
// LZMA SDK reads its in-memory header: running past the end is
// SZ_ERROR_ARCHIVE, the store failing to read is SZ_ERROR_READ.
#ifndef KX_EXTRACT_HEADER_WINDOW_H
#define KX_EXTRACT_HEADER_WINDOW_H

#include <stddef.h>
#include <stdint.h>

#include "7zTypes.h"

// Where the header's bytes are kept. Both functions may be called from two
// threads at once once the header is written (the pass and the decode
// worker read it side by side); writes come only while the header is opened,
// one after the other, each at the end of what was written before.
struct HeaderStore {
  void* context;
  // Reads exactly size bytes at offset: SZ_OK or SZ_ERROR_READ.
  SRes (*read)(void* context, uint64_t offset, void* dest, size_t size);
  // Appends size bytes at offset (the store's size so far): SZ_OK,
  // SZ_ERROR_WRITE or SZ_ERROR_MEM.
  SRes (*write)(void* context, uint64_t offset, const void* data, size_t size);
};

constexpr size_t kHeaderWindowBytes = 2048;

struct HeaderWindow {
  const HeaderStore* store;
  uint64_t position;     // the next byte's offset in the store
  uint64_t end;          // one past the window's last byte
  uint64_t bufferStart;  // store offset of buffer[0]
  size_t bufferSize;
  unsigned char buffer[kHeaderWindowBytes];
};

// A window over [start, start + size) of store; nothing is read yet.
void OpenHeaderWindow(HeaderWindow* window, const HeaderStore* store, uint64_t start, uint64_t size);

inline uint64_t HeaderWindowLeft(const HeaderWindow* window) { return window->end - window->position; }

// The next byte: SZ_OK, SZ_ERROR_ARCHIVE at the window's end, SZ_ERROR_READ.
SRes HeaderWindowByte(HeaderWindow* window, unsigned* value);

// Copies the next size bytes (SZ_ERROR_ARCHIVE when fewer are left).
SRes HeaderWindowBytes(HeaderWindow* window, void* dest, size_t size);

// Passes over bytes, which the caller knows are there.
void HeaderWindowSkip(HeaderWindow* window, uint64_t bytes);

// The 7z number encoding (1 to 9 bytes), as the SDK's ReadNumber reads it.
SRes HeaderWindowNumber(HeaderWindow* window, uint64_t* value);

// A number that must fit in 31 bits, as the SDK's SzReadNumber32 reads it
// (SZ_ERROR_UNSUPPORTED for a larger one).
SRes HeaderWindowNumber32(HeaderWindow* window, uint32_t* value);

// Reads a bit vector front to back: one bit an item, the highest bit of each
// byte first, or every item set when the vector is stored as "all defined".
struct HeaderBits {
  HeaderWindow window;
  bool all;    // every bit is set; nothing is read
  bool none;   // no vector: every bit is clear
  unsigned byte;
  unsigned mask;
};

void StartHeaderBits(HeaderBits* bits, const HeaderStore* store, uint64_t start, uint64_t size);
void StartHeaderBitsAll(HeaderBits* bits);
void StartHeaderBitsNone(HeaderBits* bits);

// The next bit; SZ_ERROR_ARCHIVE past the vector's bytes.
SRes NextHeaderBit(HeaderBits* bits, bool* set);

#endif
