// Minimal PE32+ images for reader tests: headers and zero-filled sections.
#ifndef KX_TESTS_LAUNCHER_SYNTHETIC_IMAGE_H
#define KX_TESTS_LAUNCHER_SYNTHETIC_IMAGE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "base/byte_order.h"

namespace kxtest {

struct SectionSpec {
  uint32_t pointerToRawData;
  uint32_t sizeOfRawData;
};

inline void PutU16(std::string* bytes, size_t at, uint16_t value) {
  (*bytes)[at] = static_cast<char>(value & 0xFF);
  (*bytes)[at + 1] = static_cast<char>(value >> 8);
}

inline void PutU32(std::string* bytes, size_t at, uint32_t value) {
  kxbytes::WriteU32(reinterpret_cast<unsigned char*>(&(*bytes)[at]), value);
}

// An image whose file ends where its last section's raw data ends (or at
// 4096 bytes, whichever is larger). sectionCountOverride, when non-zero, is
// written as the section count instead of sections.size().
inline std::string SyntheticImage(const std::vector<SectionSpec>& sections, uint32_t peOffset = 0x80,
                                  uint16_t sectionCountOverride = 0) {
  size_t end = 4096;
  for (const SectionSpec& s : sections)
    if (s.pointerToRawData + static_cast<size_t>(s.sizeOfRawData) > end) end = s.pointerToRawData + s.sizeOfRawData;
  std::string image(end, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  PutU32(&image, 0x3C, peOffset);
  if (peOffset + 264 + sections.size() * 40 > image.size()) return image;
  image.replace(peOffset, 4, std::string("PE\0\0", 4));
  PutU16(&image, peOffset + 4, 0x8664);
  PutU16(&image, peOffset + 6, sectionCountOverride ? sectionCountOverride : static_cast<uint16_t>(sections.size()));
  PutU16(&image, peOffset + 20, 240);
  PutU16(&image, peOffset + 24, 0x20B);
  for (size_t i = 0; i < sections.size(); ++i) {
    size_t header = peOffset + 264 + i * 40;
    PutU32(&image, header + 16, sections[i].sizeOfRawData);
    PutU32(&image, header + 20, sections[i].pointerToRawData);
  }
  return image;
}

// The container header: magic, payload length, file size field.
inline std::string ContainerHeader(uint64_t payloadLength, uint64_t fileSizeField, const char magic[2] = "KX") {
  std::string header(magic, 2);
  for (int i = 0; i < 8; ++i) header.push_back(static_cast<char>((payloadLength >> (8 * i)) & 0xFF));
  for (int i = 0; i < 8; ++i) header.push_back(static_cast<char>((fileSizeField >> (8 * i)) & 0xFF));
  return header;
}

}  // namespace kxtest

#endif
