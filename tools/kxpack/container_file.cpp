#include "container_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "pe_layout.h"
#include "pe_resources.h"

namespace {

constexpr unsigned char kSevenZipSignature[6] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
constexpr size_t kStartHeaderSize = 32;

void AppendU64(std::vector<unsigned char>* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace

uint32_t Crc32(const unsigned char* data, size_t size) {
  static uint32_t table[256];
  if (table[1] == 0) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = i;
      for (int k = 0; k < 8; ++k) r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1)));
      table[i] = r;
    }
  }
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

bool IsSevenZipStartHeader(const unsigned char* data, size_t available) {
  return available >= kStartHeaderSize && std::memcmp(data, kSevenZipSignature, sizeof kSevenZipSignature) == 0 &&
         Crc32(data + 12, 20) == pelayout::ReadU32(data + 8);
}

std::vector<unsigned char> ComposePackage(const std::vector<unsigned char>& stub,
                                          const std::vector<unsigned char>& payloadArchive,
                                          const std::vector<unsigned char>& runtimeArchive) {
  std::vector<unsigned char> out(stub);
  const uint64_t total = stub.size() + kContainerHeaderSize + payloadArchive.size() + runtimeArchive.size();
  out.reserve(total);
  out.push_back('K');
  out.push_back('X');
  AppendU64(&out, payloadArchive.size());
  AppendU64(&out, total);
  out.insert(out.end(), payloadArchive.begin(), payloadArchive.end());
  out.insert(out.end(), runtimeArchive.begin(), runtimeArchive.end());
  return out;
}

bool ReadPackageLayout(const std::vector<unsigned char>& file, PackageLayout* layout, std::string* error) {
  const size_t headerBytes = file.size() < pelayout::kHeaderBufferSize ? file.size() : pelayout::kHeaderBufferSize;
  layout->containerOffset = pelayout::ContainerOffsetFromHeaders(file.data(), headerBytes);
  if (layout->containerOffset == 0) {
    *error = "no PE32+ headers the reader accepts";
    return false;
  }
  const uint64_t offset = layout->containerOffset;
  if (offset + kContainerHeaderSize > file.size()) {
    *error = "nothing appended after the image's last section";
    return false;
  }
  layout->payloadLength = pelayout::ReadU64(file.data() + offset + 2);
  if (layout->payloadLength > file.size() - offset - kContainerHeaderSize) {
    *error = "the payload runs past the end of the file";
    return false;
  }
  CertificateTable(file, &layout->certificateOffset, &layout->certificateSize);
  if (layout->certificateSize != 0 &&
      (layout->certificateOffset < offset + kContainerHeaderSize ||
       uint64_t{layout->certificateOffset} + layout->certificateSize > file.size())) {
    *error = "the signature does not lie behind the container";
    return false;
  }
  layout->fileSizeField = pelayout::ReadU64(file.data() + offset + 10);
  if (layout->fileSizeField == 0) {
    *error = "the container's file size field is 0";
    return false;
  }

  // The reader's search: 32-byte start headers, examined only when at least
  // one more byte follows them.
  const uint64_t start = offset + kContainerHeaderSize + layout->payloadLength;
  uint64_t p = start;
  while (p + kStartHeaderSize < file.size() && !IsSevenZipStartHeader(file.data() + p, file.size() - p)) ++p;
  if (p + kStartHeaderSize >= file.size()) {
    *error = "no runtime archive behind the payload";
    return false;
  }
  // The archive's own length, from its start header: a signature may follow
  // it, and must not begin inside it.
  layout->runtimePosition = p;
  layout->runtimeLength = kStartHeaderSize + pelayout::ReadU64(file.data() + p + 12) +
                          pelayout::ReadU64(file.data() + p + 20);
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
  unsigned char headers[pelayout::kHeaderBufferSize];
  unsigned char mark[2] = {};
  bool package = false;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    const ssize_t got = pread(fd, headers, sizeof headers, 0);
    const uint32_t offset = got > 0 ? pelayout::ContainerOffsetFromHeaders(headers, static_cast<size_t>(got)) : 0;
    package = offset != 0 && pread(fd, mark, 2, offset) == 2 && mark[0] == 'K' && mark[1] == 'X';
  }
  close(fd);
  return package;
}
