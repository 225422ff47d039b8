// Little-endian integers in byte buffers: every format we read or write (the
// package container, PE images, 7z headers, icons, bitmaps) stores them so.
// Portable (no Windows headers): the programs, kxpack and the tests share it.
#ifndef KX_BASE_BYTE_ORDER_H
#define KX_BASE_BYTE_ORDER_H

#include <stddef.h>
#include <stdint.h>

namespace kxbytes {

inline uint16_t ReadU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t ReadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t ReadU64(const unsigned char* p) {
  return ReadU32(p) | (static_cast<uint64_t>(ReadU32(p + 4)) << 32);
}

// Stores the low `bytes` bytes of value at p, least significant first.
inline void WriteLe(unsigned char* p, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}
inline void WriteU16(unsigned char* p, uint16_t value) { WriteLe(p, value, 2); }
inline void WriteU32(unsigned char* p, uint32_t value) { WriteLe(p, value, 4); }
inline void WriteU64(unsigned char* p, uint64_t value) { WriteLe(p, value, 8); }

// Appends the low `bytes` bytes of value to a byte container (std::string,
// std::vector<unsigned char>), least significant first.
template <typename Bytes>
void AppendLe(Bytes* out, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out->push_back(static_cast<typename Bytes::value_type>(value >> (8 * i)));
}

template <typename Bytes>
void AppendU16(Bytes* out, uint16_t value) { AppendLe(out, value, 2); }
template <typename Bytes>
void AppendU32(Bytes* out, uint32_t value) { AppendLe(out, value, 4); }

}  // namespace kxbytes

#endif
