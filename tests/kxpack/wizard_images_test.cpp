// The wizard's images as an author gives them: BMP or PNG, at any of the
// scales the dialogs choose from, turned into the bitmaps the programs draw;
// and every damaged or misfitting file refused with what is wrong.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "base/crc32.h"
#include "base/package_format.h"
#include "tools/kxpack/artwork.h"
#include "tools/kxpack/png_image.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A PNG of width x height whose pixel (x, y) is colour(x, y) (blue, green,
// red, alpha), written by libpng as a file of the given format: BGRA, RGB
// (no alpha) or GRAY (the green alone).
template <typename Colour>
Bytes MakePng(int width, int height, png_uint_32 format, Colour colour) {
  Bytes pixels;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::array<unsigned char, 4> c = colour(x, y);
      if (format == PNG_FORMAT_GRAY)
        pixels.push_back(c[1]);
      else if (format == PNG_FORMAT_RGB)
        pixels.insert(pixels.end(), {c[2], c[1], c[0]});
      else
        pixels.insert(pixels.end(), c.begin(), c.end());
    }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = format;
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_get_memory_size(image, size, 0, pixels.data(), 0, nullptr));
  Bytes out(size);
  EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr));
  out.resize(size);
  return out;
}

// Sets the CRC of the chunk at `at` to match its type and data again.
void MendCrc(Bytes* b, size_t at) {
  const uint32_t length = (*b)[at] << 24 | (*b)[at + 1] << 16 | (*b)[at + 2] << 8 | (*b)[at + 3];
  const uint32_t crc = kxcrc::Crc32(&(*b)[at + 4], 4 + length);
  for (int i = 0; i < 4; ++i) (*b)[at + 8 + length + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
}

Bytes Opaque(int width, int height) {
  return MakePng(width, height, PNG_FORMAT_BGRA, [](int x, int y) {
    return std::array<unsigned char, 4>{static_cast<unsigned char>(x), static_cast<unsigned char>(y), 200, 255};
  });
}


uint32_t U32At(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; }

// The BMP's pixel (x, y), counted from the top, as its bytes.
Bytes PixelOf(const Bytes& bmp, int x, int y) {
  const int width = static_cast<int>(U32At(bmp, 18)), height = static_cast<int>(U32At(bmp, 22));
  const int bytes = bmp[28] / 8;
  const size_t stride = (static_cast<size_t>(width) * bytes + 3) & ~size_t{3};
  const size_t at = U32At(bmp, 10) + stride * (height - 1 - y) + static_cast<size_t>(x) * bytes;
  return Bytes(bmp.begin() + at, bmp.begin() + at + bytes);
}

// A grey PNG's pixels come out grey, an RGB one's in BMP order.
TEST(WizardImages, GreyAndRgbPngsKeepTheirColours) {
  ScaledImage image;
  std::string error;
  ASSERT_TRUE(ReadWizardImage(MakePng(90, 58, PNG_FORMAT_GRAY, [](int, int) { return std::array<unsigned char, 4>{0, 90, 0, 255}; }),
                              kHeaderWidth, kHeaderHeight, &image, &error)) << error;
  EXPECT_EQ(PixelOf(image.bitmap, 3, 3), (Bytes{90, 90, 90}));
  ASSERT_TRUE(ReadWizardImage(MakePng(90, 58, PNG_FORMAT_RGB, [](int, int) { return std::array<unsigned char, 4>{1, 2, 3, 255}; }),
                              kHeaderWidth, kHeaderHeight, &image, &error)) << error;
  EXPECT_EQ(PixelOf(image.bitmap, 3, 3), (Bytes{1, 2, 3}));
}

TEST(WizardImages, EveryScaleOfBmpAndPngIsTakenAndNamed) {
  struct Case {
    const char* what;
    Bytes file;
    int percent, bits;
  };
  const Case cases[] = {
      {"neutral watermark at 100 %", DrawWatermark(100), 100, 24},
      {"neutral watermark at 200 %", DrawWatermark(200), 200, 24},
      {"opaque PNG at 100 %", Opaque(175, 345), 100, 24},
      {"opaque PNG at 125 %", Opaque(219, 431), 125, 24},
      {"opaque PNG at 300 %", Opaque(525, 1035), 300, 24},
      {"grey PNG at 150 %", MakePng(263, 518, PNG_FORMAT_GRAY, [](int, int) { return std::array<unsigned char, 4>{0, 90, 0, 255}; }), 150, 24},
      {"RGB PNG at 175 %", MakePng(306, 604, PNG_FORMAT_RGB, [](int, int) { return std::array<unsigned char, 4>{1, 2, 3, 255}; }), 175, 24},
      {"PNG with alpha at 200 %", MakePng(350, 690, PNG_FORMAT_BGRA, [](int x, int) {
         return std::array<unsigned char, 4>{50, 100, 200, static_cast<unsigned char>(x < 10 ? 0 : 128)};
       }), 200, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScaledImage image;
    std::string error;
    ASSERT_TRUE(ReadWizardImage(c.file, kWatermarkWidth, kWatermarkHeight, &image, &error)) << error;
    EXPECT_EQ(image.percent, c.percent);
    EXPECT_EQ(image.bitmap[28], c.bits);
    // What the programs get passes the checks of a BMP an author gives,
    // at its own size.
    if (c.bits == 24) {
      EXPECT_TRUE(CheckBitmap(image.bitmap, ScaledSide(kWatermarkWidth, c.percent),
                              ScaledSide(kWatermarkHeight, c.percent), &error))
          << error;
    }
  }
  // The header's neutral artwork at both scales kxpack ships.
  for (int percent : kNeutralArtworkScales) {
    ScaledImage image;
    std::string error;
    EXPECT_TRUE(ReadWizardImage(DrawHeader(percent), kHeaderWidth, kHeaderHeight, &image, &error)) << error;
    EXPECT_EQ(image.percent, percent);
  }
}

TEST(WizardImages, PngPixelsLandInPlaceAndAlphaIsPremultiplied) {
  ScaledImage image;
  std::string error;
  ASSERT_TRUE(ReadWizardImage(Opaque(175, 345), kWatermarkWidth, kWatermarkHeight, &image, &error)) << error;
  // Bottom-up rows in the BMP, top-down in the PNG; blue, green, red.
  EXPECT_EQ(PixelOf(image.bitmap, 7, 3), (Bytes{7, 3, 200}));
  EXPECT_EQ(PixelOf(image.bitmap, 174, 344), (Bytes{174, 344 - 256, 200}));

  const Bytes translucent = MakePng(90, 58, PNG_FORMAT_BGRA, [](int x, int) {
    return std::array<unsigned char, 4>{50, 100, 200, static_cast<unsigned char>(x == 0 ? 0 : 128)};
  });
  ASSERT_TRUE(ReadWizardImage(translucent, kHeaderWidth, kHeaderHeight, &image, &error)) << error;
  EXPECT_EQ(image.percent, 100);
  EXPECT_EQ(PixelOf(image.bitmap, 5, 5), (Bytes{25, 50, 100, 128}));  // 50, 100, 200 times 128/255
  EXPECT_EQ(PixelOf(image.bitmap, 0, 5), (Bytes{0, 0, 0, 0}));
}

TEST(WizardImages, MisfitsAndOtherFormatsAreRefusedWithTheSizesTheDialogsTake) {
  struct Case {
    const char* what;
    Bytes file;
    const char* error;  // the start of the message
  };
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0};
  gif.resize(200, 0);
  const Case cases[] = {
      {"PNG of no listed size", Opaque(176, 345), "is 176 x 345 pixels; the dialogs show it at 175 x 345 (100 % scaling), or 219 x 431 at 125 %"},
      {"PNG of the header's size", Opaque(90, 58), "is 90 x 58 pixels; the dialogs show it at 175 x 345"},
      {"BMP of another image's size", DrawHeader(200), "is 180 x 116 pixels; the dialogs show it at 175 x 345"},
      {"GIF", gif, "is neither a BMP nor a PNG image"},
      {"empty file", Bytes{}, "is neither a BMP nor a PNG image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScaledImage image;
    std::string error;
    EXPECT_FALSE(ReadWizardImage(c.file, kWatermarkWidth, kWatermarkHeight, &image, &error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    EXPECT_TRUE(image.bitmap.empty());
  }
}

// Damage built from a good PNG: each is refused, none read past the bytes.
TEST(WizardImages, DamagedPngsAreRefused) {
  const Bytes good = Opaque(175, 345);
  ScaledImage image;
  std::string error;
  ASSERT_TRUE(ReadWizardImage(good, kWatermarkWidth, kWatermarkHeight, &image, &error)) << error;
  const char kIdat[] = "IDAT";
  const size_t idat = std::search(good.begin(), good.end(), kIdat, kIdat + 4) - good.begin() - 4;
  ASSERT_LT(idat, good.size());
  const uint32_t idatLength = good[idat] << 24 | good[idat + 1] << 16 | good[idat + 2] << 8 | good[idat + 3];

  auto flipped = [&](size_t at) {
    Bytes b = good;
    b[at] ^= 0x40;
    return b;
  };
  auto cut = [&](size_t size) { return Bytes(good.begin(), good.begin() + size); };
  Bytes trailing = good;
  trailing.push_back(0);
  Bytes noData = cut(33);  // the signature and IHDR
  noData.insert(noData.end(), good.end() - 12, good.end());  // IEND straight after IHDR
  Bytes huge = good;
  huge[16] = 0x7F;  // a width of two thousand million, its CRC right
  MendCrc(&huge, 8);
  Bytes garbled = good;  // image data that is no zlib stream, its CRC right
  for (size_t i = 0; i < idatLength; ++i) garbled[idat + 8 + i] = static_cast<unsigned char>(i * 37);
  MendCrc(&garbled, idat);
  const struct {
    const char* what;
    Bytes file;
    const char* error;
  } cases[] = {
      {"a byte of IHDR", flipped(20), "is damaged (a chunk's CRC does not match)"},
      {"a byte of the image data", flipped(idat + 8 + idatLength / 2), "is damaged (a chunk's CRC does not match)"},
      {"cut in the image data", cut(idat + 8 + idatLength / 2), "is cut short or damaged"},
      {"cut before IEND", cut(good.size() - 12), "is cut short (a PNG image ends with an IEND chunk)"},
      {"cut in the signature", cut(5), "is neither a BMP nor a PNG image"},
      {"a byte after IEND", trailing, "has bytes after its IEND chunk"},
      {"no image data", noData, "has no image data"},
      {"a chunk length beyond the file", flipped(idat), "is cut short or damaged"},
      {"a forged size", huge, "is 2130706607 x 345 pixels, more than kxpack takes"},
      {"image data that does not inflate", garbled, "is a PNG image libpng cannot"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(ReadWizardImage(c.file, kWatermarkWidth, kWatermarkHeight, &image, &error));
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
  }
}

}  // namespace
