// The package container as the running program and kxpack read it: the PE
// headers' container offset (base/container_format.h), the program's search
// for the runtime archive in windows (base/container_search.h) and kxpack's
// layout reader. Whatever the bytes, the offset is the last section's end as
// 64-bit arithmetic has it; the windowed search, whatever its window and
// however short its reads, finds what a plain scan of the whole file finds;
// kxpack reports ranges inside the file, and a package composed from what it
// read reads back alike.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/container_format.h"
#include "base/container_search.h"
#include "base/crc32.h"
#include "tools/kxpack/container_file.h"

namespace {

uint32_t Crc(const void* data, size_t size) { return kxcrc::Crc32(data, size); }

// The container offset, recomputed from the section table without the
// reader's code: 0 for headers it must refuse.
uint64_t ExpectedOffset(const uint8_t* data, size_t size) {
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return 0;
  const uint64_t pe = kxbytes::ReadU32(data + 0x3C);
  if (pe == 0 || pe >= 0x80000000u || pe >= kxformat::kLastPeSignatureOffset) return 0;
  if (pe + kxformat::kSectionTableDistance > size || pe + kxformat::kSectionTableDistance > kxformat::kHeaderBufferSize)
    return 0;
  if (kxbytes::ReadU32(data + pe) != 0x00004550) return 0;
  const uint64_t count = kxbytes::ReadU16(data + pe + 6);
  const uint64_t table = pe + kxformat::kSectionTableDistance;
  const uint64_t limit = size < kxformat::kHeaderBufferSize ? size : kxformat::kHeaderBufferSize;
  if (table + count * kxformat::kSectionHeaderSize > limit) return 0;
  uint64_t highest = 0, end = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* section = data + table + i * kxformat::kSectionHeaderSize;
    const uint64_t pointer = kxbytes::ReadU32(section + 20);
    if (pointer > highest) {
      highest = pointer;
      end = pointer + kxbytes::ReadU32(section + 16);
    }
  }
  return end + kxformat::kContainerHeaderSize > UINT32_MAX ? 0 : end;
}

// The file in memory, handed out in reads of a length the input chooses.
struct MemoryFile {
  const uint8_t* data;
  size_t size;
  size_t position;
  unsigned step;  // 0: as much as asked
};

size_t ReadMemory(void* file, unsigned char* buffer, size_t capacity) {
  MemoryFile* f = static_cast<MemoryFile*>(file);
  size_t n = f->size - f->position;
  if (n > capacity) n = capacity;
  if (f->step != 0 && n > f->step) n = f->step;
  for (size_t i = 0; i < n; ++i) buffer[i] = f->data[f->position + i];
  f->position += n;
  return n;
}

// The program's search from start, with a window of windowSize bytes.
bool WindowedSearch(const uint8_t* data, size_t size, uint64_t start, size_t windowSize, unsigned step,
                    uint64_t* found) {
  if (start > size) return false;  // a seek past the end reads nothing
  MemoryFile file = {data, size, static_cast<size_t>(start), step};
  std::vector<unsigned char> window(windowSize);
  return kxformat::SearchRuntimeArchive(ReadMemory, &file, start, Crc, window.data(), window.size(), found);
}

// The first start header from start with at least one byte behind it.
bool PlainScan(const uint8_t* data, size_t size, uint64_t start, uint64_t* found) {
  for (uint64_t p = start; p + kxformat::kSevenZipStartHeaderSize < size; ++p) {
    if (kxformat::IsSevenZipStartHeader(data + p, Crc)) {
      *found = p;
      return true;
    }
  }
  return false;
}

void CheckSearch(const uint8_t* data, size_t size, uint32_t offset) {
  if (offset == 0 || uint64_t{offset} + kxformat::kContainerHeaderSize > size) return;
  const uint64_t payloadLength = kxbytes::ReadU64(data + offset + kxformat::kPayloadLengthField);
  uint64_t start = 0;
  if (!kxformat::RuntimeSearchStart(offset, payloadLength, &start)) {
    if (payloadLength <= 0x7FFFFFFFFFFFFFFFull - offset - kxformat::kContainerHeaderSize) abort();
    return;
  }
  if (start != uint64_t{offset} + kxformat::kContainerHeaderSize + payloadLength) abort();
  // Payload lengths past the end seek nowhere; shorter ones are tried too,
  // as a damaged length would start the search inside the payload.
  for (uint64_t from : {start, uint64_t{offset} + kxformat::kContainerHeaderSize}) {
    uint64_t expected = 0;
    const bool exists = from <= size && PlainScan(data, size, from, &expected);
    const size_t smallWindow = kxformat::kSevenZipStartHeaderSize + 1 + size % 61;
    const unsigned step = 1 + static_cast<unsigned>(size % 7);
    for (size_t windowSize : {smallWindow, kxformat::kArchiveSearchWindow}) {
      for (unsigned s : {0u, step}) {
        uint64_t found = 0;
        const bool ok = WindowedSearch(data, size, from, windowSize, s, &found);
        if (ok != exists || (ok && found != expected)) abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t headerBytes = size < kxformat::kHeaderBufferSize ? size : kxformat::kHeaderBufferSize;
  const uint32_t offset = kxformat::ContainerOffsetFromHeaders(data, headerBytes);
  if (offset != ExpectedOffset(data, size)) abort();
  CheckSearch(data, size, offset);

  std::vector<unsigned char> file(data, data + size);
  PackageLayout layout;
  std::string error;
  if (!ReadPackageLayout(file, &layout, &error)) return 0;
  if (layout.containerOffset != offset) abort();
  const uint64_t payloadEnd = uint64_t{layout.containerOffset} + kxformat::kContainerHeaderSize + layout.payloadLength;
  if (payloadEnd > size || layout.runtimePosition < payloadEnd) abort();
  if (layout.runtimeLength > size || layout.runtimePosition > size - layout.runtimeLength) abort();
  // kxpack's reader finds the archive where the program finds it.
  uint64_t found = 0;
  if (!WindowedSearch(data, size, payloadEnd, kxformat::kArchiveSearchWindow, 0, &found) ||
      found != layout.runtimePosition)
    abort();

  // Composed again from its parts, the package reads back alike.
  std::vector<unsigned char> stub(file.begin(), file.begin() + layout.containerOffset);
  std::vector<unsigned char> payload(file.begin() + layout.containerOffset + kxformat::kContainerHeaderSize,
                                     file.begin() + static_cast<long>(payloadEnd));
  std::vector<unsigned char> runtime(file.begin() + static_cast<long>(layout.runtimePosition),
                                     file.begin() + static_cast<long>(layout.runtimePosition + layout.runtimeLength));
  PackageLayout again;
  if (!ReadPackageLayout(ComposePackage(stub, payload, runtime), &again, &error)) return 0;
  if (again.containerOffset != layout.containerOffset || again.payloadLength != layout.payloadLength) abort();
  return 0;
}
