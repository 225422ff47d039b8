#include "tools/kxpack/png_image.h"

#include <png.h>

#include <cstring>

#include "base/crc32.h"

namespace {

const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t BigEndian32(const std::vector<unsigned char>& b, size_t at) {
  return (static_cast<uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

// The largest side kxpack takes: three times the watermark's height, with
// room to spare. It keeps a forged header from asking for gigabytes.
constexpr uint32_t kMaxSide = 4096;

}  // namespace

bool LooksLikePng(const std::vector<unsigned char>& bytes) {
  return bytes.size() >= sizeof kSignature && std::memcmp(bytes.data(), kSignature, sizeof kSignature) == 0;
}

bool ReadPngSize(const std::vector<unsigned char>& b, uint32_t* width, uint32_t* height, std::string* error) {
  *width = *height = 0;
  if (!LooksLikePng(b)) {
    *error = "is not a PNG image";
    return false;
  }
  // Chunks: length (big-endian), type, data, CRC-32 of type and data.
  size_t at = sizeof kSignature;
  bool header = false, data = false, end = false;
  while (!end) {
    if (b.size() - at < 12) {
      *error = "is cut short (a PNG image ends with an IEND chunk)";
      return false;
    }
    const uint32_t length = BigEndian32(b, at);
    if (length > 0x7FFFFFFFu || length > b.size() - at - 12) {
      *error = "is cut short or damaged (a chunk runs past the end of the file)";
      return false;
    }
    const unsigned char* type = &b[at + 4];
    if (kxcrc::Crc32(type, 4 + length) != BigEndian32(b, at + 8 + length)) {
      *error = "is damaged (a chunk's CRC does not match)";
      return false;
    }
    const bool isHeader = std::memcmp(type, "IHDR", 4) == 0;
    if (isHeader != !header || (isHeader && length != 13)) {
      *error = "is damaged (a PNG image begins with one IHDR chunk of 13 bytes)";
      return false;
    }
    if (isHeader) {
      *width = BigEndian32(b, at + 8);
      *height = BigEndian32(b, at + 12);
      header = true;
    }
    data |= std::memcmp(type, "IDAT", 4) == 0;
    end = std::memcmp(type, "IEND", 4) == 0;
    at += 12 + static_cast<size_t>(length);
  }
  if (!data || at != b.size()) {
    *error = data ? "has bytes after its IEND chunk" : "has no image data (IDAT chunk)";
    return false;
  }
  if (*width == 0 || *height == 0 || *width > kMaxSide || *height > kMaxSide) {
    *error = "is " + std::to_string(*width) + " x " + std::to_string(*height) + " pixels, more than kxpack takes";
    return false;
  }
  return true;
}

bool DecodePng(const std::vector<unsigned char>& bytes, std::vector<unsigned char>* pixels, std::string* error) {
  pixels->clear();
  uint32_t width = 0, height = 0;
  if (!ReadPngSize(bytes, &width, &height, error)) return false;
  // libpng's simplified interface keeps its longjmp to itself and frees
  // what it holds on every failure.
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    *error = std::string("is a PNG image libpng cannot read (") + image.message + ")";
    return false;
  }
  if (image.width != width || image.height != height) {
    png_image_free(&image);
    *error = "is damaged (its header is read two ways)";
    return false;
  }
  image.format = PNG_FORMAT_BGRA;
  pixels->resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels->data(), 0, nullptr)) {
    pixels->clear();
    *error = std::string("is a PNG image libpng cannot decode (") + image.message + ")";
    return false;
  }
  // A warning means libpng made up what it could not read (short image
  // data, say): a picture with holes is refused, not shipped.
  if (image.warning_or_error != 0) {
    pixels->clear();
    *error = std::string("is a damaged PNG image (") + image.message + ")";
    return false;
  }
  return true;
}
