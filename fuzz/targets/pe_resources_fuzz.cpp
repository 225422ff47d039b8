// Hostile stubs through kxpack's PE code: the stub check, the resource tree
// reader, the writer of a new resource section, the checksum and the
// certificate table. A tree that was read and written again reads back with
// the same resources.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/kxpack/pe_resources.h"
#include "tools/kxpack/pe_stub.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> bytes(data, data + size);
  uint32_t certificateOffset = 0, certificateSize = 0;
  CertificateTable(bytes, &certificateOffset, &certificateSize);
  std::vector<unsigned char> summed = bytes;
  UpdatePeChecksum(&summed);

  StubImage stub;
  std::string error;
  if (!PrepareStub(bytes, &stub, &error)) return 0;
  std::vector<Resource> resources;
  if (!ReadResources(stub.bytes, &resources, &error)) return 0;
  std::vector<unsigned char> rewritten;
  if (!WriteResources(stub.bytes, resources, &rewritten, &error)) return 0;
  std::vector<Resource> again;
  if (!ReadResources(rewritten, &again, &error)) abort();
  if (again.size() != resources.size()) abort();
  for (size_t i = 0; i < again.size(); ++i)
    if (again[i].data != resources[i].data || again[i].language != resources[i].language) abort();
  return 0;
}
