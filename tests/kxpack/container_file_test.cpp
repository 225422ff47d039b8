// Packages composed by the builder read back as the running program reads them.
#include <gtest/gtest.h>

#include "base/container_format.h"
#include "base/crc32.h"
#include "tools/kxpack/container_file.h"

namespace {

// A minimal PE32+ image of one section ending at 0x600.
std::vector<unsigned char> Stub() {
  std::vector<unsigned char> b(0x600, 0);
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = 0x80;
  b[0x80] = 'P';
  b[0x81] = 'E';
  b[0x84] = 0x64;
  b[0x85] = 0x86;
  b[0x86] = 1;
  b[0x80 + 264 + 16] = 0x00;
  b[0x80 + 264 + 17] = 0x02;  // SizeOfRawData 0x200
  b[0x80 + 264 + 21] = 0x04;  // PointerToRawData 0x400
  return b;
}

// A syntactically valid 7z start header followed by `extra` bytes.
std::vector<unsigned char> Archive(size_t extra, unsigned char fill) {
  std::vector<unsigned char> a = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0, 4, 0, 0, 0, 0};
  a.resize(32, 0);
  a[12] = static_cast<unsigned char>(extra);  // next header offset
  uint32_t crc = kxcrc::Crc32(a.data() + 12, 20);
  for (int i = 0; i < 4; ++i) a[8 + i] = static_cast<unsigned char>(crc >> (8 * i));
  a.insert(a.end(), extra, fill);
  return a;
}

}  // namespace

TEST(ContainerFile, Crc32IsThe7zCrc) {
  const unsigned char text[] = "123456789";
  EXPECT_EQ(0xCBF43926u, kxcrc::Crc32(text, 9));
  // Continued over two pieces, as the PNG writer of the screenshots uses it.
  EXPECT_EQ(0xCBF43926u, kxcrc::Crc32(text + 4, 5, kxcrc::Crc32(text, 4)));
}

TEST(ContainerFile, ComposedPackagesReadBack) {
  std::vector<unsigned char> payload = Archive(10, 0x11), runtime = Archive(20, 0x22);
  std::vector<unsigned char> package = ComposePackage(Stub(), payload, runtime);
  ASSERT_EQ(0x600 + 18 + payload.size() + runtime.size(), package.size());
  EXPECT_EQ('K', package[0x600]);
  EXPECT_EQ('X', package[0x601]);

  PackageLayout layout;
  std::string error;
  ASSERT_TRUE(ReadPackageLayout(package, &layout, &error)) << error;
  EXPECT_EQ(0x600u, layout.containerOffset);
  EXPECT_EQ(payload.size(), layout.payloadLength);
  EXPECT_EQ(package.size(), layout.fileSizeField);
  EXPECT_EQ(0x600 + 18 + payload.size(), layout.runtimePosition);
  EXPECT_EQ(runtime.size(), layout.runtimeLength);
}

TEST(ContainerFile, AnUninstallerHasNoPayload) {
  std::vector<unsigned char> package = ComposePackage(Stub(), {}, Archive(5, 0));
  PackageLayout layout;
  std::string error;
  ASSERT_TRUE(ReadPackageLayout(package, &layout, &error)) << error;
  EXPECT_EQ(0u, layout.payloadLength);
  EXPECT_EQ(0x600u + 18, layout.runtimePosition);
}

TEST(ContainerFile, RejectsWhatTheProgramWouldReject) {
  PackageLayout layout;
  std::string error;
  EXPECT_FALSE(ReadPackageLayout(Stub(), &layout, &error));  // nothing appended
  std::vector<unsigned char> package = ComposePackage(Stub(), Archive(4, 1), Archive(4, 2));
  std::vector<unsigned char> broken = package;
  broken[0x600 + 18 + 36 + 8] ^= 1;  // runtime start header CRC
  EXPECT_FALSE(ReadPackageLayout(broken, &layout, &error));
  std::vector<unsigned char> zeroSize = package;
  for (int i = 0; i < 8; ++i) zeroSize[0x600 + 10 + i] = 0;
  EXPECT_FALSE(ReadPackageLayout(zeroSize, &layout, &error));
  // A payload length past the file's end must not wrap around to a small
  // position and find the payload's own start header.
  for (uint64_t length : {uint64_t{200}, ~uint64_t{0}}) {
    std::vector<unsigned char> longPayload = package;
    for (int i = 0; i < 8; ++i) longPayload[0x600 + 2 + i] = static_cast<unsigned char>(length >> (8 * i));
    EXPECT_FALSE(ReadPackageLayout(longPayload, &layout, &error)) << length;
  }
}

TEST(ContainerFile, ASignatureBehindTheRuntimeArchiveIsNotPartOfIt) {
  std::vector<unsigned char> stub = Stub();
  stub[0x80 + 24 + 108] = 16;  // NumberOfRvaAndSizes
  std::vector<unsigned char> runtime = Archive(20, 0x22);
  std::vector<unsigned char> package = ComposePackage(stub, {}, runtime);
  // Signing tools pad to eight bytes, then append the certificate table.
  package.resize((package.size() + 7) / 8 * 8, 0);
  const uint32_t table = static_cast<uint32_t>(package.size());
  package.resize(package.size() + 64, 0x5A);
  auto setTable = [&](uint32_t offset) {
    for (int i = 0; i < 4; ++i) {
      package[0x80 + 24 + 144 + i] = static_cast<unsigned char>(offset >> (8 * i));
      package[0x80 + 24 + 148 + i] = static_cast<unsigned char>((package.size() - offset) >> (8 * i));
    }
  };
  setTable(table);
  PackageLayout layout;
  std::string error;
  ASSERT_TRUE(ReadPackageLayout(package, &layout, &error)) << error;
  EXPECT_EQ(runtime.size(), layout.runtimeLength);
  EXPECT_EQ(table, layout.certificateOffset);

  setTable(table - 8);  // a table that starts inside the archive
  EXPECT_FALSE(ReadPackageLayout(package, &layout, &error));
  EXPECT_NE(std::string::npos, error.find("runs past the signature")) << error;
}
