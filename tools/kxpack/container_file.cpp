#include "tools/kxpack/container_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "base/byte_order.h"
#include "base/container_format.h"
#include "base/crc32.h"
#include "tools/kxpack/pe_resources.h"

using kxformat::kSevenZipStartHeaderSize;

bool IsSevenZipStartHeader(const unsigned char* data, size_t available) {
  return available >= kxformat::kSevenZipStartHeaderSize && kxformat::HasSevenZipSignature(data) &&
         kxcrc::Crc32(data + kxformat::kStartHeaderCrcFrom, kxformat::kSevenZipStartHeaderSize - kxformat::kStartHeaderCrcFrom) ==
             kxbytes::ReadU32(data + kxformat::kStartHeaderCrcField);
}

std::vector<unsigned char> ComposePackage(const std::vector<unsigned char>& stub,
                                          const std::vector<unsigned char>& payloadArchive,
                                          const std::vector<unsigned char>& runtimeArchive) {
  std::vector<unsigned char> out(stub);
  const uint64_t total = stub.size() + kxformat::kContainerHeaderSize + payloadArchive.size() + runtimeArchive.size();
  out.reserve(total);
  out.insert(out.end(), kxformat::kContainerMagic, kxformat::kContainerMagic + sizeof kxformat::kContainerMagic);
  kxbytes::AppendLe(&out, payloadArchive.size(), 8);
  kxbytes::AppendLe(&out, total, 8);
  out.insert(out.end(), payloadArchive.begin(), payloadArchive.end());
  out.insert(out.end(), runtimeArchive.begin(), runtimeArchive.end());
  return out;
}

bool ReadPackageLayout(const std::vector<unsigned char>& file, PackageLayout* layout, std::string* error) {
  const size_t headerBytes = file.size() < kxformat::kHeaderBufferSize ? file.size() : kxformat::kHeaderBufferSize;
  layout->containerOffset = kxformat::ContainerOffsetFromHeaders(file.data(), headerBytes);
  if (layout->containerOffset == 0) {
    *error = "no PE32+ headers the reader accepts";
    return false;
  }
  const uint64_t offset = layout->containerOffset;
  if (offset + kxformat::kContainerHeaderSize > file.size()) {
    *error = "nothing appended after the image's last section";
    return false;
  }
  layout->payloadLength = kxbytes::ReadU64(file.data() + offset + kxformat::kPayloadLengthField);
  if (layout->payloadLength > file.size() - offset - kxformat::kContainerHeaderSize) {
    *error = "the payload runs past the end of the file";
    return false;
  }
  CertificateTable(file, &layout->certificateOffset, &layout->certificateSize);
  if (layout->certificateSize != 0 &&
      (layout->certificateOffset < offset + kxformat::kContainerHeaderSize ||
       uint64_t{layout->certificateOffset} + layout->certificateSize > file.size())) {
    *error = "the signature does not lie behind the container";
    return false;
  }
  layout->fileSizeField = kxbytes::ReadU64(file.data() + offset + kxformat::kFileSizeField);
  if (layout->fileSizeField == 0) {
    *error = "the container's file size field is 0";
    return false;
  }

  // The reader's search: 32-byte start headers, examined only when at least
  // one more byte follows them.
  const uint64_t start = offset + kxformat::kContainerHeaderSize + layout->payloadLength;
  uint64_t p = start;
  while (p + kxformat::kSevenZipStartHeaderSize < file.size() && !IsSevenZipStartHeader(file.data() + p, file.size() - p)) ++p;
  if (p + kxformat::kSevenZipStartHeaderSize >= file.size()) {
    *error = "no runtime archive behind the payload";
    return false;
  }
  // The archive's own length, from its start header: a signature may follow
  // it, and must not begin inside it.
  layout->runtimePosition = p;
  layout->runtimeLength = kxformat::kSevenZipStartHeaderSize + kxbytes::ReadU64(file.data() + p + kxformat::kNextHeaderOffsetField) +
                          kxbytes::ReadU64(file.data() + p + kxformat::kNextHeaderSizeField);
  uint64_t end = file.size();
  if (layout->certificateSize != 0) end = layout->certificateOffset;
  if (layout->runtimeLength > end || p > end - layout->runtimeLength) {
    *error = "the runtime archive runs past " + std::string(end == file.size() ? "the end of the file" : "the signature");
    return false;
  }
  return true;
}

bool LooksLikePackageFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat status;
  unsigned char headers[kxformat::kHeaderBufferSize];
  unsigned char mark[sizeof kxformat::kContainerMagic] = {};
  bool package = false;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    const ssize_t got = pread(fd, headers, sizeof headers, 0);
    const uint32_t offset = got > 0 ? kxformat::ContainerOffsetFromHeaders(headers, static_cast<size_t>(got)) : 0;
    package = offset != 0 && pread(fd, mark, sizeof mark, offset) == static_cast<ssize_t>(sizeof mark) &&
              mark[0] == kxformat::kContainerMagic[0] && mark[1] == kxformat::kContainerMagic[1];
  }
  close(fd);
  return package;
}
