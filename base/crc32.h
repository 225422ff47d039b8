// CRC-32 (the polynomial of zip, PNG and 7z) for the host tools and the
// tests. The programs use the LZMA SDK's table-driven CRC, which the decoder
// needs anyway; both give the same values.
#ifndef KX_BASE_CRC32_H
#define KX_BASE_CRC32_H

#include <stddef.h>
#include <stdint.h>

namespace kxcrc {

struct Crc32Table {
  uint32_t entry[256];
};

constexpr Crc32Table MakeCrc32Table() {
  Crc32Table table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int k = 0; k < 8; ++k) r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1)));
    table.entry[i] = r;
  }
  return table;
}

inline constexpr Crc32Table kCrc32Table = MakeCrc32Table();

// The CRC-32 of size bytes at data, continued from crc (the CRC of the bytes
// before them; 0 to start).
inline uint32_t Crc32(const void* data, size_t size, uint32_t crc = 0) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = kCrc32Table.entry[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace kxcrc

#endif
