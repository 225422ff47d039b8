// Stub checks: what the builder accepts, cuts and refuses.
#include <gtest/gtest.h>

#include "base/byte_order.h"

#include "base/container_format.h"
#include "tools/kxpack/pe_stub.h"

namespace {

void PutU16(std::vector<unsigned char>* b, size_t at, uint16_t v) {
  (*b)[at] = static_cast<unsigned char>(v);
  (*b)[at + 1] = static_cast<unsigned char>(v >> 8);
}

void PutU32(std::vector<unsigned char>* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

constexpr size_t kPe = 0x80;

// One section of raw data at 0x400..0x1000; the file is `size` bytes.
std::vector<unsigned char> Image(size_t size, uint16_t machine = 0x8664, uint16_t magic = 0x20B) {
  std::vector<unsigned char> b(size, 0);
  b[0] = 'M';
  b[1] = 'Z';
  PutU32(&b, 0x3C, kPe);
  b[kPe] = 'P';
  b[kPe + 1] = 'E';
  PutU16(&b, kPe + 4, machine);
  PutU16(&b, kPe + 6, 1);
  PutU16(&b, kPe + 20, 240);
  PutU16(&b, kPe + 24, magic);
  PutU32(&b, kPe + 264 + 16, 0xC00);
  PutU32(&b, kPe + 264 + 20, 0x400);
  return b;
}

}  // namespace

TEST(PrepareStub, AcceptsAStrippedImageAsItIs) {
  StubImage stub;
  std::string error;
  ASSERT_TRUE(PrepareStub(Image(0x1000), &stub, &error)) << error;
  EXPECT_EQ(0x1000u, stub.containerOffset);
  EXPECT_EQ(0u, stub.trimmedBytes);
  EXPECT_EQ(0x1000u, stub.bytes.size());
}

TEST(PrepareStub, CutsASymbolTableBehindTheLastSection) {
  std::vector<unsigned char> image = Image(0x1000 + 300);
  PutU32(&image, kPe + 4 + 8, 0x1000);  // PointerToSymbolTable
  PutU32(&image, kPe + 4 + 12, 12);     // NumberOfSymbols
  StubImage stub;
  std::string error;
  ASSERT_TRUE(PrepareStub(image, &stub, &error)) << error;
  EXPECT_EQ(300u, stub.trimmedBytes);
  ASSERT_EQ(0x1000u, stub.bytes.size());
  EXPECT_EQ(0u, kxbytes::ReadU32(stub.bytes.data() + kPe + 4 + 8));
  EXPECT_EQ(0u, kxbytes::ReadU32(stub.bytes.data() + kPe + 4 + 12));
}

TEST(PrepareStub, RefusesWhatTheReaderWouldMisread) {
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
  };
  std::vector<unsigned char> signedImage = Image(0x1200);
  PutU32(&signedImage, kPe + 24 + 144, 0x1000);
  PutU32(&signedImage, kPe + 24 + 148, 0x200);
  std::vector<unsigned char> tooManySections = Image(0x1000);
  PutU16(&tooManySections, kPe + 6, 200);
  const Case cases[] = {
      {"not an image", std::vector<unsigned char>(5000, 'x')},
      {"32-bit machine", Image(0x1000, 0x14C, 0x10B)},
      {"PE32 optional header", Image(0x1000, 0x8664, 0x10B)},
      {"truncated", Image(0xF00)},
      {"signed", signedImage},
      {"section table beyond 4096 bytes", tooManySections},
  };
  for (const Case& c : cases) {
    StubImage stub;
    std::string error;
    EXPECT_FALSE(PrepareStub(c.bytes, &stub, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}
