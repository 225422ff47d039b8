// The package container as the running program and kxpack read it: the PE
// headers' container offset (base/container_format.h) and kxpack's layout
// reader. Whatever the bytes, the reader either refuses them or reports
// ranges that lie inside the file, and a package composed from what it read
// reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/container_format.h"
#include "tools/kxpack/container_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t headerBytes = size < kxformat::kHeaderBufferSize ? size : kxformat::kHeaderBufferSize;
  const uint32_t offset = kxformat::ContainerOffsetFromHeaders(data, headerBytes);

  std::vector<unsigned char> file(data, data + size);
  PackageLayout layout;
  std::string error;
  if (!ReadPackageLayout(file, &layout, &error)) return 0;
  if (layout.containerOffset != offset) abort();
  const uint64_t payloadEnd = uint64_t{layout.containerOffset} + kxformat::kContainerHeaderSize + layout.payloadLength;
  if (payloadEnd > size || layout.runtimePosition < payloadEnd) abort();
  if (layout.runtimeLength > size || layout.runtimePosition > size - layout.runtimeLength) abort();

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
