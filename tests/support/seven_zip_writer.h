// Writes small 7z archives for tests, with full control over what they hold:
// uncompressed (Copy) data in one solid block, an uncompressed header, and
// optional times, attributes and CRCs. Lets tests build archives that no
// archiver would write (unsafe names, a method we cannot decode).
#ifndef KX_TESTS_SUPPORT_SEVEN_ZIP_WRITER_H
#define KX_TESTS_SUPPORT_SEVEN_ZIP_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

namespace kxtest {

struct ArchiveItem {
  std::wstring name;           // '/' separated, as stored
  bool directory = false;
  std::string data;            // file contents
  bool hasTime = false;
  uint64_t time = 0;           // FILETIME as one 64-bit number
  bool hasAttributes = false;
  uint32_t attributes = 0;

  static ArchiveItem File(std::wstring name, std::string data) {
    ArchiveItem item;
    item.name = std::move(name);
    item.data = std::move(data);
    return item;
  }
  static ArchiveItem Folder(std::wstring name) {
    ArchiveItem item;
    item.name = std::move(name);
    item.directory = true;
    return item;
  }
};

struct ArchiveOptions {
  // Method id of the single coder; 0 is Copy. 0x030401 (PPMd) is one the
  // programs' decoder does not support.
  uint64_t coderId = 0;
  // With no items, 7-Zip writes no header at all (a bare 32-byte start
  // header); this writes an empty one instead, so that bytes follow the
  // start header.
  bool headerWhenEmpty = false;
  // The last file claims this many bytes more than it holds: the header
  // promises a size the data cannot give (it fails to decode).
  uint64_t extraUnpackSize = 0;
};

// The archive's bytes. The file data lies at offset 32 onwards, in item order.
std::string BuildSevenZip(const std::vector<ArchiveItem>& items, const ArchiveOptions& options = {});

// Offset of the first data byte of the archive built from these items.
constexpr size_t kSevenZipDataOffset = 32;

}  // namespace kxtest

#endif
