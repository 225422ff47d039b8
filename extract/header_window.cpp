#include "extract/header_window.h"

#include <string.h>

void OpenHeaderWindow(HeaderWindow* w, const HeaderStore* store, uint64_t start, uint64_t size) {
  w->store = store;
  w->position = start;
  w->end = start + size;
  w->bufferStart = start;
  w->bufferSize = 0;
}

namespace {

// Makes the byte at w->position available in the buffer.
SRes Fill(HeaderWindow* w) {
  const uint64_t left = w->end - w->position;
  const size_t size = left < kHeaderWindowBytes ? static_cast<size_t>(left) : kHeaderWindowBytes;
  w->bufferStart = w->position;
  w->bufferSize = 0;
  SRes result = w->store->read(w->store->context, w->position, w->buffer, size);
  if (result != SZ_OK) return result;
  w->bufferSize = size;
  return SZ_OK;
}

}  // namespace

SRes HeaderWindowByte(HeaderWindow* w, unsigned* value) {
  if (w->position >= w->end) return SZ_ERROR_ARCHIVE;
  if (w->position < w->bufferStart || w->position >= w->bufferStart + w->bufferSize) {
    SRes result = Fill(w);
    if (result != SZ_OK) return result;
  }
  *value = w->buffer[w->position - w->bufferStart];
  ++w->position;
  return SZ_OK;
}

SRes HeaderWindowBytes(HeaderWindow* w, void* dest, size_t size) {
  if (size > HeaderWindowLeft(w)) return SZ_ERROR_ARCHIVE;
  unsigned char* out = static_cast<unsigned char*>(dest);
  for (size_t i = 0; i < size; ++i) {
    unsigned byte = 0;
    SRes result = HeaderWindowByte(w, &byte);
    if (result != SZ_OK) return result;
    out[i] = static_cast<unsigned char>(byte);
  }
  return SZ_OK;
}

void HeaderWindowSkip(HeaderWindow* w, uint64_t bytes) { w->position += bytes; }

SRes HeaderWindowNumber(HeaderWindow* w, uint64_t* value) {
  unsigned first = 0;
  RINOK(HeaderWindowByte(w, &first))
  if ((first & 0x80) == 0) {
    *value = first;
    return SZ_OK;
  }
  unsigned byte = 0;
  RINOK(HeaderWindowByte(w, &byte))
  if ((first & 0x40) == 0) {
    *value = (static_cast<uint64_t>(first & 0x3F) << 8) | byte;
    return SZ_OK;
  }
  unsigned second = 0;
  RINOK(HeaderWindowByte(w, &second))
  *value = byte | (static_cast<uint64_t>(second) << 8);
  unsigned mask = 0x20;
  for (unsigned shift = 16; shift < 64; shift += 8) {
    if ((first & mask) == 0) {
      *value |= static_cast<uint64_t>(first & (mask - 1)) << shift;
      return SZ_OK;
    }
    mask >>= 1;
    RINOK(HeaderWindowByte(w, &byte))
    *value |= static_cast<uint64_t>(byte) << shift;
  }
  return SZ_OK;
}

SRes HeaderWindowNumber32(HeaderWindow* w, uint32_t* value) {
  uint64_t wide = 0;
  RINOK(HeaderWindowNumber(w, &wide))
  // The SDK takes a one-byte number as it is and refuses larger ones from
  // 0x7FFFFFFF on; both come to this.
  if (wide >= 0x80000000u - 1) return SZ_ERROR_UNSUPPORTED;
  *value = static_cast<uint32_t>(wide);
  return SZ_OK;
}

void StartHeaderBits(HeaderBits* bits, const HeaderStore* store, uint64_t start, uint64_t size) {
  OpenHeaderWindow(&bits->window, store, start, size);
  bits->all = false;
  bits->none = false;
  bits->byte = 0;
  bits->mask = 0;
}

void StartHeaderBitsAll(HeaderBits* bits) {
  StartHeaderBits(bits, nullptr, 0, 0);
  bits->all = true;
}

void StartHeaderBitsNone(HeaderBits* bits) {
  StartHeaderBits(bits, nullptr, 0, 0);
  bits->none = true;
}

SRes NextHeaderBit(HeaderBits* bits, bool* set) {
  if (bits->all || bits->none) {
    *set = bits->all;
    return SZ_OK;
  }
  if (bits->mask == 0) {
    RINOK(HeaderWindowByte(&bits->window, &bits->byte))
    bits->mask = 0x80;
  }
  *set = (bits->byte & bits->mask) != 0;
  bits->mask >>= 1;
  return SZ_OK;
}
