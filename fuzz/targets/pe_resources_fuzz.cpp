// Hostile stubs through kxpack's PE code: the stub check, the resource tree
// reader, the writer of a new resource section, the checksum and the
// certificate table. A tree that was read and written again reads back with
// the same resources (in the order the format wants, which a hostile stub's
// tree need not have kept).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "tools/kxpack/pe_resources.h"
#include "tools/kxpack/pe_stub.h"

namespace {

// A resource's place in a tree: names before numbers, names without regard
// to ASCII case.
auto Key(const ResourceId& id) {
  std::u16string folded = id.name;
  for (char16_t& c : folded)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return std::make_tuple(!id.named, id.number, folded, id.name);
}

void SortByPlace(std::vector<Resource>* resources) {
  std::stable_sort(resources->begin(), resources->end(), [](const Resource& a, const Resource& b) {
    return std::make_tuple(Key(a.type), Key(a.name), a.language) < std::make_tuple(Key(b.type), Key(b.name), b.language);
  });
}

}  // namespace

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
  SortByPlace(&resources);
  SortByPlace(&again);
  for (size_t i = 0; i < again.size(); ++i)
    if (again[i].data != resources[i].data || again[i].language != resources[i].language) abort();
  return 0;
}
