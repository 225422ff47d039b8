// The package container appended to each program file, and where it starts.
// Portable (no Windows headers): the running programs (launcher/container.h)
// and the package builder (tools/kxpack/container_file.h) read and write the
// very same layout from these definitions.
//
//   file offset                          contents
//   0 .. container offset                PE32+ image, ending with its sections' raw data
//   container offset + 0,  2 bytes       magic "KX" (written, never checked)
//   container offset + 2,  u64 LE        payload length (0 in the uninstaller)
//   container offset + 10, u64 LE        file size field (must be non-zero)
//   container offset + 18                payload archive, payload length bytes
//   container offset + 18 + payload len  runtime archive, to the end of the file
//                                        (or to an Authenticode signature behind it)
//
// The container offset is PointerToRawData + SizeOfRawData of the section with
// the highest PointerToRawData (the first listed on a tie). Both archives are
// complete 7z archives whose positions are relative to their own first byte.
// The runtime archive is found by searching for its 32-byte 7z start header
// (signature and CRC-32 of its last 20 bytes) behind the payload.
#ifndef KX_BASE_CONTAINER_FORMAT_H
#define KX_BASE_CONTAINER_FORMAT_H

#include <stddef.h>
#include <stdint.h>

#include "base/byte_order.h"

namespace kxformat {

constexpr unsigned char kContainerMagic[2] = {'K', 'X'};
constexpr size_t kPayloadLengthField = 2;   // offsets inside the container header
constexpr size_t kFileSizeField = 10;
constexpr size_t kContainerHeaderSize = 18;

// The 7z start header: 6 signature bytes, 2 version bytes, the CRC-32 of the
// 20 bytes after it, then the next header's offset (u64) and size (u64),
// relative to the end of the start header, and the next header's CRC.
constexpr unsigned char kSevenZipSignature[6] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
constexpr size_t kSevenZipStartHeaderSize = 32;
constexpr size_t kStartHeaderCrcField = 8;
constexpr size_t kStartHeaderCrcFrom = 12;
constexpr size_t kNextHeaderOffsetField = 12;
constexpr size_t kNextHeaderSizeField = 20;
// The running program searches for the runtime archive in windows this large.
constexpr size_t kArchiveSearchWindow = 32768;

// The readers look at the first 4096 bytes of a program file only;
// everything they need of the PE headers must be there.
constexpr size_t kHeaderBufferSize = 4096;
constexpr size_t kPeSignatureOffsetField = 0x3C;
// The section table starts 264 bytes after the PE signature: 4 signature
// bytes, the 20-byte file header and the 240-byte PE32+ optional header.
constexpr size_t kSectionTableDistance = 264;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kLastPeSignatureOffset = kHeaderBufferSize - kSectionTableDistance;  // 3832

// True when the bytes at header begin with the 7z signature; the CRC is the
// caller's to check, with the CRC it has.
inline bool HasSevenZipSignature(const unsigned char* header) {
  for (size_t i = 0; i < sizeof kSevenZipSignature; ++i)
    if (header[i] != kSevenZipSignature[i]) return false;
  return true;
}

// Offset of the PE signature, or 0 when the buffer holds no MZ image whose
// signature lies where the section table still fits the header buffer.
inline size_t PeSignatureOffset(const unsigned char* buffer, size_t bytesRead) {
  if (bytesRead < kPeSignatureOffsetField + 4 || kxbytes::ReadU16(buffer) != 0x5A4D) return 0;
  int32_t pe = static_cast<int32_t>(kxbytes::ReadU32(buffer + kPeSignatureOffsetField));
  if (pe <= 0 || static_cast<size_t>(pe) >= kLastPeSignatureOffset) return 0;
  if (static_cast<size_t>(pe) + kSectionTableDistance > bytesRead) return 0;
  if (kxbytes::ReadU32(buffer + pe) != 0x00004550) return 0;
  return static_cast<size_t>(pe);
}

// PointerToRawData + SizeOfRawData of the section with the highest
// PointerToRawData (the first listed on a tie; a pointer of 0 never counts).
// 0 when the headers cannot be read, the section table does not fit in
// bytesRead, or that end and the container header behind it do not fit in
// 32 bits (the sum would wrap to a place inside the image).
inline uint32_t ContainerOffsetFromHeaders(const unsigned char* buffer, size_t bytesRead) {
  size_t pe = PeSignatureOffset(buffer, bytesRead);
  if (pe == 0) return 0;
  const size_t sectionCount = kxbytes::ReadU16(buffer + pe + 6);
  const size_t table = pe + kSectionTableDistance;
  if (table + sectionCount * kSectionHeaderSize > bytesRead) return 0;

  uint32_t highestPointer = 0;
  uint64_t offset = 0;
  for (size_t i = 0; i < sectionCount; ++i) {
    const unsigned char* section = buffer + table + i * kSectionHeaderSize;
    uint32_t sizeOfRawData = kxbytes::ReadU32(section + 16);
    uint32_t pointerToRawData = kxbytes::ReadU32(section + 20);
    if (pointerToRawData > highestPointer) {
      highestPointer = pointerToRawData;
      offset = uint64_t{pointerToRawData} + sizeOfRawData;
    }
  }
  if (offset > UINT32_MAX - kContainerHeaderSize) return 0;
  return static_cast<uint32_t>(offset);
}

}  // namespace kxformat

#endif
