#include "base/container_search.h"

#include <string.h>

#include "base/byte_order.h"
#include "base/container_format.h"

namespace kxformat {

bool RuntimeSearchStart(uint32_t containerOffset, uint64_t payloadLength, uint64_t* start) {
  // A file position is a signed 64-bit number on Windows; a length beyond it
  // would have wrapped to a position inside the file before.
  const uint64_t behindHeader = uint64_t{containerOffset} + kContainerHeaderSize;
  constexpr uint64_t kLastPosition = 0x7FFFFFFFFFFFFFFFull;
  if (payloadLength > kLastPosition - behindHeader) return false;
  *start = behindHeader + payloadLength;
  return true;
}

bool IsSevenZipStartHeader(const unsigned char* header, SearchCrc32 crc) {
  return HasSevenZipSignature(header) &&
         crc(header + kStartHeaderCrcFrom, kSevenZipStartHeaderSize - kStartHeaderCrcFrom) ==
             kxbytes::ReadU32(header + kStartHeaderCrcField);
}

bool SearchRuntimeArchive(SearchRead read, void* file, uint64_t start, SearchCrc32 crc, unsigned char* window,
                          size_t windowSize, uint64_t* position) {
  if (windowSize <= kSevenZipStartHeaderSize) return false;
  uint64_t windowStart = start;
  size_t held = 0;
  for (;;) {
    const size_t got = read(file, window + held, windowSize - held);
    if (got == 0 || got > windowSize - held) return false;
    held += got;
    if (held <= kSevenZipStartHeaderSize) continue;

    const size_t examined = held - kSevenZipStartHeaderSize;
    for (size_t i = 0; i < examined; ++i) {
      if (window[i] == kSevenZipSignature[0] && IsSevenZipStartHeader(window + i, crc)) {
        *position = windowStart + i;
        return true;
      }
    }
    windowStart += examined;
    memmove(window, window + examined, kSevenZipStartHeaderSize);
    held = kSevenZipStartHeaderSize;
  }
}

}  // namespace kxformat
