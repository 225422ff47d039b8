// Writes the generated part of the seed corpora: packages composed by
// kxpack's own writer, the artwork kxpack draws for starters and the
// package data it writes.
//   make_seeds DIR   (DIR/<target>/ must exist)
#include <cstdio>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/container_format.h"
#include "base/crc32.h"
#include "tools/kxpack/artwork.h"
#include "tools/kxpack/container_file.h"
#include "tools/kxpack/file_io.h"
#include "tools/kxpack/package_data_file.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The smallest PE32+ image the readers accept: one section whose raw data
// ends at 0x600.
Bytes SyntheticStub() {
  Bytes b(0x600, 0);
  b[0] = 'M';
  b[1] = 'Z';
  kxbytes::WriteU32(&b[0x3C], 0x80);
  kxbytes::WriteU32(&b[0x80], 0x00004550);
  kxbytes::WriteU16(&b[0x84], 0x8664);
  kxbytes::WriteU16(&b[0x86], 1);
  kxbytes::WriteU16(&b[0x94], 240);
  kxbytes::WriteU16(&b[0x98], 0x20B);
  const size_t section = 0x80 + kxformat::kSectionTableDistance;
  kxbytes::WriteU32(&b[section + 16], 0x200);
  kxbytes::WriteU32(&b[section + 20], 0x400);
  return b;
}

// A 7z archive's start header (signature, version, CRC) and `extra` bytes.
Bytes Archive(size_t extra, unsigned char fill) {
  Bytes a(kxformat::kSevenZipStartHeaderSize, 0);
  for (size_t i = 0; i < sizeof kxformat::kSevenZipSignature; ++i) a[i] = kxformat::kSevenZipSignature[i];
  a[7] = 4;
  kxbytes::WriteU64(&a[kxformat::kNextHeaderOffsetField], extra);
  kxbytes::WriteU32(&a[kxformat::kStartHeaderCrcField],
                    kxcrc::Crc32(&a[kxformat::kStartHeaderCrcFrom],
                                 kxformat::kSevenZipStartHeaderSize - kxformat::kStartHeaderCrcFrom));
  a.insert(a.end(), extra, fill);
  return a;
}

bool Write(const std::string& path, const Bytes& bytes) {
  if (WriteFileAtomically(path, bytes, 0644)) return true;
  std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = Write(dir + "/container_layout_fuzz/package", ComposePackage(SyntheticStub(), Archive(40, 0x11), Archive(60, 0x22)));
  ok &= Write(dir + "/container_layout_fuzz/uninstaller", ComposePackage(SyntheticStub(), {}, Archive(30, 0x33)));
  ok &= Write(dir + "/pe_resources_fuzz/synthetic-stub", SyntheticStub());
  ok &= Write(dir + "/artwork_fuzz/watermark.bmp", DrawWatermark());
  ok &= Write(dir + "/artwork_fuzz/header.bmp", DrawHeader());
  ok &= Write(dir + "/artwork_fuzz/app.ico", DrawIcon());
  PackageDescription values;
  values.name = "Quillmark Toolkit";
  values.version = "2020.01.15.01";
  values.publisher = "Quillmark, LLC";
  values.url = "https://www.quillmark.example";
  values.uninstallKey = "Quillmark Toolkit812953";
  values.program = "bin\\tool.exe";
  const std::string data = PackageDataText(values);
  ok &= Write(dir + "/package_data_fuzz/kxpackage.dat", Bytes(data.begin(), data.end()));
  return ok ? 0 : 1;
}
