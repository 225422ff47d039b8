// The loader's own bytes in a program file: the raw data of the sections
// listed before its resource section (code, data, unwind and import tables,
// base relocations, and the icon's images, which kxpack writes into a
// section of their own before the resource tree).
// setup.exe and Uninst.exe are one loader with other resources (its string
// 5 says which program it is), and the tree comes last, so these bytes
// stand at the same places in both files. The
// uninstaller a setup carries leaves them out (zero), and setup puts them
// back from its own file (launcher/uninstaller_completion.h). Portable (no
// Windows header): kxpack finds the same sections.
#ifndef KX_BASE_LOADER_SECTIONS_H
#define KX_BASE_LOADER_SECTIONS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "base/byte_order.h"
#include "base/container_format.h"

namespace kxformat {

constexpr size_t kMaxLoaderSections = 16;

struct LoaderSection {
  uint32_t offset;  // PointerToRawData
  uint32_t size;    // SizeOfRawData
};

// The sections with raw data listed before the one named ".rsrc", in table
// order, from the first bytesRead bytes of a program file. Returns their
// count; 0 when the headers cannot be read, there is no resource section,
// or more than kMaxLoaderSections sections come before it.
inline size_t FindLoaderSections(const unsigned char* buffer, size_t bytesRead, LoaderSection* sections) {
  const size_t pe = PeSignatureOffset(buffer, bytesRead);
  if (pe == 0) return 0;
  const size_t sectionCount = kxbytes::ReadU16(buffer + pe + 6);
  const size_t table = pe + kSectionTableDistance;
  if (table + sectionCount * kSectionHeaderSize > bytesRead) return 0;
  size_t count = 0;
  for (size_t i = 0; i < sectionCount; ++i) {
    const unsigned char* header = buffer + table + i * kSectionHeaderSize;
    if (memcmp(header, ".rsrc\0\0\0", 8) == 0) return count;
    const uint32_t size = kxbytes::ReadU32(header + 16);
    const uint32_t offset = kxbytes::ReadU32(header + 20);
    if (size == 0 || offset == 0) continue;
    if (count == kMaxLoaderSections || uint64_t{offset} + size > UINT32_MAX) return 0;
    sections[count++] = {offset, size};
  }
  return 0;
}

}  // namespace kxformat

#endif
