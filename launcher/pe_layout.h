// Where the package container starts in a program file, computed from the
// PE32+ headers alone. Portable (no Windows headers): the package builder
// uses the very same rule as the running program.
#ifndef KX_LAUNCHER_PE_LAYOUT_H
#define KX_LAUNCHER_PE_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

namespace pelayout {

// The reader looks at the first 4096 bytes only; everything it needs must be there.
constexpr size_t kHeaderBufferSize = 4096;
constexpr size_t kPeSignatureOffsetField = 0x3C;
// The section table starts 264 bytes after the PE signature: 4 signature
// bytes, the 20-byte file header and the 240-byte PE32+ optional header.
constexpr size_t kSectionTableDistance = 264;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kLastPeSignatureOffset = kHeaderBufferSize - kSectionTableDistance;  // 3832

inline uint16_t ReadU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t ReadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t ReadU64(const unsigned char* p) {
  return ReadU32(p) | (static_cast<uint64_t>(ReadU32(p + 4)) << 32);
}

// Offset of the PE signature, or 0 when the buffer holds no MZ image whose
// signature lies where the section table still fits the header buffer.
inline size_t PeSignatureOffset(const unsigned char* buffer, size_t bytesRead) {
  if (bytesRead < kPeSignatureOffsetField + 4 || ReadU16(buffer) != 0x5A4D) return 0;
  int32_t pe = static_cast<int32_t>(ReadU32(buffer + kPeSignatureOffsetField));
  if (pe <= 0 || static_cast<size_t>(pe) >= kLastPeSignatureOffset) return 0;
  if (static_cast<size_t>(pe) + kSectionTableDistance > bytesRead) return 0;
  if (ReadU32(buffer + pe) != 0x00004550) return 0;
  return static_cast<size_t>(pe);
}

// PointerToRawData + SizeOfRawData of the section with the highest
// PointerToRawData (the first listed on a tie; a pointer of 0 never counts).
// 0 when the headers cannot be read or the section table does not fit in
// bytesRead.
inline uint32_t ContainerOffsetFromHeaders(const unsigned char* buffer, size_t bytesRead) {
  size_t pe = PeSignatureOffset(buffer, bytesRead);
  if (pe == 0) return 0;
  const size_t sectionCount = ReadU16(buffer + pe + 6);
  const size_t table = pe + kSectionTableDistance;
  if (table + sectionCount * kSectionHeaderSize > bytesRead) return 0;

  uint32_t highestPointer = 0;
  uint32_t offset = 0;
  for (size_t i = 0; i < sectionCount; ++i) {
    const unsigned char* section = buffer + table + i * kSectionHeaderSize;
    uint32_t sizeOfRawData = ReadU32(section + 16);
    uint32_t pointerToRawData = ReadU32(section + 20);
    if (pointerToRawData > highestPointer) {
      highestPointer = pointerToRawData;
      offset = pointerToRawData + sizeOfRawData;
    }
  }
  return offset;
}

}  // namespace pelayout

#endif
