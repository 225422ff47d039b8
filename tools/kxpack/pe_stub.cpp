#include "tools/kxpack/pe_stub.h"

#include "base/container_format.h"

namespace {

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kOptionalMagicPe32Plus = 0x20B;

}  // namespace

bool PrepareStub(std::vector<unsigned char> bytes, StubImage* stub, std::string* error) {
  const size_t headerBytes = bytes.size() < kxformat::kHeaderBufferSize ? bytes.size() : kxformat::kHeaderBufferSize;
  size_t pe = kxformat::PeSignatureOffset(bytes.data(), headerBytes);
  if (pe == 0) {
    *error = "stub is not a PE image whose headers lie in its first 4096 bytes";
    return false;
  }
  const unsigned char* fileHeader = bytes.data() + pe + 4;
  if (kxbytes::ReadU16(fileHeader) != kMachineAmd64 || kxbytes::ReadU16(fileHeader + 20) != kOptionalMagicPe32Plus) {
    *error = "stub is not a 64-bit (PE32+, x86-64) image";
    return false;
  }
  // Data directory 4, the certificate table, lies behind the sections; a
  // container appended to a signed image would break its signature anyway.
  const unsigned char* certificateTable = fileHeader + 20 + 144;
  if (kxbytes::ReadU32(certificateTable + 4) != 0) {
    *error = "stub is signed: sign the finished package instead of the stub";
    return false;
  }
  uint32_t offset = kxformat::ContainerOffsetFromHeaders(bytes.data(), headerBytes);
  if (offset == 0) {
    *error = "stub's section table does not fit in its first 4096 bytes, or it has no section data";
    return false;
  }
  if (offset > bytes.size()) {
    *error = "stub is truncated: its last section ends at " + std::to_string(offset) + " but the file has " +
             std::to_string(bytes.size()) + " bytes";
    return false;
  }
  if (offset >= 0x7FFFFFFEu) {
    *error = "stub is too large: the container must begin below 2 GiB";
    return false;
  }

  stub->trimmedBytes = bytes.size() - offset;
  if (stub->trimmedBytes > 0) {
    // A symbol table behind the sections would sit between the image and the
    // container; the loader never needs it.
    unsigned char* pointerToSymbols = bytes.data() + pe + 4 + 8;
    if (kxbytes::ReadU32(pointerToSymbols) >= offset) {
      kxbytes::WriteU32(pointerToSymbols, 0);
      kxbytes::WriteU32(pointerToSymbols + 4, 0);
    }
    bytes.resize(offset);
  }
  stub->bytes = std::move(bytes);
  stub->containerOffset = offset;
  return true;
}
