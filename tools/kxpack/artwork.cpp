#include "tools/kxpack/artwork.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/package_format.h"
#include "tools/kxpack/png_image.h"

namespace {

uint32_t U16(const std::vector<unsigned char>& b, size_t at) { return b[at] | (b[at + 1] << 8); }
uint32_t U32(const std::vector<unsigned char>& b, size_t at) { return U16(b, at) | (U16(b, at + 2) << 16); }
int32_t I32(const std::vector<unsigned char>& b, size_t at) { return static_cast<int32_t>(U32(b, at)); }

void Put16(std::vector<unsigned char>* b, uint32_t v) {
  b->push_back(v & 0xFF);
  b->push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<unsigned char>* b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A colour with coverage; the drawing is plain geometry, sampled 4 x 4 per
// pixel for smooth edges.
struct Rgb {
  double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

const Rgb kDeep{18, 62, 74}, kTeal{28, 128, 132}, kMint{150, 216, 196}, kWhite{255, 255, 255};

// Inside a square of side size at (x0, y0) with rounded corners.
bool InRoundedSquare(double x, double y, double x0, double y0, double size, double radius) {
  double cx = std::clamp(x, x0 + radius, x0 + size - radius);
  double cy = std::clamp(y, y0 + radius, y0 + size - radius);
  if (x < x0 || y < y0 || x > x0 + size || y > y0 + size) return false;
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

// The emblem: a rounded teal square holding a white open box (a package).
// Returns the colour at (x, y) of an emblem of side size and its coverage.
double Emblem(double x, double y, double size, Rgb* colour) {
  if (!InRoundedSquare(x, y, 0, 0, size, size * 0.2)) return 0.0;
  *colour = Mix(kTeal, kDeep, y / size);
  const double u = x / size, v = y / size;
  // The box: a square body and a lid line, in white.
  bool body = u > 0.27 && u < 0.73 && v > 0.42 && v < 0.78;
  bool lid = u > 0.22 && u < 0.78 && v > 0.30 && v < 0.38;
  bool slot = u > 0.46 && u < 0.54 && v > 0.42 && v < 0.56;
  if ((body || lid) && !slot) *colour = kWhite;
  return 1.0;
}

// Sampled coverage of an emblem pixel.
Rgb EmblemPixel(int px, int py, double size, Rgb background, double* alpha) {
  Rgb sum{0, 0, 0};
  double covered = 0;
  for (int sy = 0; sy < 4; ++sy) {
    for (int sx = 0; sx < 4; ++sx) {
      Rgb colour = background;
      double c = Emblem(px + (sx + 0.5) / 4, py + (sy + 0.5) / 4, size, &colour);
      covered += c;
      Rgb shown = c > 0 ? colour : background;
      sum = {sum.r + shown.r, sum.g + shown.g, sum.b + shown.b};
    }
  }
  *alpha = covered / 16;
  return {sum.r / 16, sum.g / 16, sum.b / 16};
}

unsigned char Byte(double v) { return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 255.0))); }

std::vector<unsigned char> BitmapFile(int width, int height, int bits, const std::vector<unsigned char>& palette,
                                      const std::vector<unsigned char>& rows) {
  std::vector<unsigned char> out = {'B', 'M'};
  uint32_t offset = static_cast<uint32_t>(kFileHeaderSize + kInfoHeaderSize + palette.size());
  Put32(&out, offset + static_cast<uint32_t>(rows.size()));
  Put32(&out, 0);
  Put32(&out, offset);
  Put32(&out, kInfoHeaderSize);
  Put32(&out, static_cast<uint32_t>(width));
  Put32(&out, static_cast<uint32_t>(height));
  Put16(&out, 1);
  Put16(&out, static_cast<uint32_t>(bits));
  Put32(&out, 0);
  Put32(&out, static_cast<uint32_t>(rows.size()));
  Put32(&out, 2835);
  Put32(&out, 2835);
  Put32(&out, bits == 8 ? 256 : 0);
  Put32(&out, 0);
  out.insert(out.end(), palette.begin(), palette.end());
  out.insert(out.end(), rows.begin(), rows.end());
  return out;
}

// The scale of kxformat::kImageScales at which an image of w x h pixels is
// one of width x height at 100 %; 0 for none.
int ScaleOf(int64_t w, int64_t h, int width, int height) {
  for (int percent : kxformat::kImageScales)
    if (w == ScaledSide(width, percent) && h == ScaledSide(height, percent)) return percent;
  return 0;
}

std::string SizeProblem(int64_t w, int64_t h, int width, int height) {
  std::string sizes;
  for (int percent : kxformat::kImageScales) {
    if (percent == 100) continue;
    sizes += std::string(sizes.empty() ? "" : ", ") + std::to_string(ScaledSide(width, percent)) + " x " +
             std::to_string(ScaledSide(height, percent)) + " at " + std::to_string(percent) + " %";
  }
  return "is " + std::to_string(w) + " x " + std::to_string(h) + " pixels; the dialogs show it at " +
         std::to_string(width) + " x " + std::to_string(height) + " (100 % scaling), or " + sizes;
}

// Top-down rows of blue, green, red and alpha as a bottom-up BMP: 24 bits
// when every pixel is opaque, else 32 bits premultiplied, as AlphaBlend
// takes them.
std::vector<unsigned char> BitmapOfPixels(int width, int height, const std::vector<unsigned char>& pixels) {
  bool opaque = true;
  for (size_t i = 3; i < pixels.size(); i += 4) opaque &= pixels[i] == 255;
  const int bits = opaque ? 24 : 32;
  const size_t stride = (static_cast<size_t>(width) * bits / 8 + 3) & ~size_t{3};
  std::vector<unsigned char> rows(stride * height, 0);
  for (int y = 0; y < height; ++y) {
    const unsigned char* from = &pixels[static_cast<size_t>(y) * width * 4];
    unsigned char* to = &rows[static_cast<size_t>(height - 1 - y) * stride];
    for (int x = 0; x < width; ++x, from += 4) {
      const unsigned alpha = from[3];
      for (int c = 0; c < 3; ++c) *to++ = opaque ? from[c] : static_cast<unsigned char>((from[c] * alpha + 127) / 255);
      if (!opaque) *to++ = static_cast<unsigned char>(alpha);
    }
  }
  return BitmapFile(width, height, bits, {}, rows);
}

}  // namespace

int ScaledSide(int side, int percent) { return (side * percent + 50) / 100; }

bool ReadWizardImage(const std::vector<unsigned char>& b, int width, int height, ScaledImage* image,
                     std::string* error) {
  image->bitmap.clear();
  if (LooksLikePng(b)) {
    uint32_t w = 0, h = 0;
    if (!ReadPngSize(b, &w, &h, error)) return false;
    image->percent = ScaleOf(w, h, width, height);
    if (!image->percent) {
      *error = SizeProblem(w, h, width, height);
      return false;
    }
    std::vector<unsigned char> pixels;
    if (!DecodePng(b, &pixels, error)) return false;
    image->bitmap = BitmapOfPixels(static_cast<int>(w), static_cast<int>(h), pixels);
    return true;
  }
  if (b.size() < kFileHeaderSize + kInfoHeaderSize || b[0] != 'B' || b[1] != 'M') {
    *error = "is neither a BMP nor a PNG image";
    return false;
  }
  const int64_t w = I32(b, 18), h = I32(b, 22);
  image->percent = ScaleOf(w, h < 0 ? -h : h, width, height);
  if (!image->percent) {
    *error = SizeProblem(w, h < 0 ? -h : h, width, height);
    return false;
  }
  if (!CheckBitmap(b, ScaledSide(width, image->percent), ScaledSide(height, image->percent), error)) return false;
  image->bitmap = b;
  return true;
}

bool CheckBitmap(const std::vector<unsigned char>& b, int width, int height, std::string* error) {
  if (b.size() < kFileHeaderSize + kInfoHeaderSize || b[0] != 'B' || b[1] != 'M') {
    *error = "is not a BMP image";
    return false;
  }
  const uint32_t offset = U32(b, 10), headerSize = U32(b, 14);
  if (headerSize != 40 && headerSize != 108 && headerSize != 124) {
    *error = "has a BMP header the dialogs cannot read (" + std::to_string(headerSize) + " bytes)";
    return false;
  }
  const int32_t w = I32(b, 18), h = I32(b, 22);
  const uint32_t planes = U16(b, 26), bits = U16(b, 28), compression = U32(b, 30);
  if (w != width || (h != height && h != -height)) {
    *error = "is " + std::to_string(w) + " x " + std::to_string(h < 0 ? -static_cast<int64_t>(h) : h) +
             " pixels; the dialogs show it at " + std::to_string(width) + " x " + std::to_string(height);
    return false;
  }
  if (planes != 1 || (bits != 8 && bits != 24) || compression != 0) {
    *error = "has " + std::to_string(bits) + " bits per pixel" + (compression ? ", compressed" : "") +
             "; the dialogs need 8 (with a palette) or 24, uncompressed";
    return false;
  }
  const uint64_t stride = (static_cast<uint64_t>(width) * bits / 8 + 3) & ~3ull;
  const uint64_t paletteEnd = kFileHeaderSize + headerSize + (bits == 8 ? 4ull * (U32(b, 46) ? U32(b, 46) : 256) : 0);
  if ((bits == 8 && U32(b, 46) > 256) || offset < paletteEnd || offset + stride * height > b.size()) {
    *error = "is cut short or damaged (its pixels or palette lie outside the file)";
    return false;
  }
  return true;
}

bool CheckIcon(const std::vector<unsigned char>& b, std::string* error) {
  if (b.size() < 6 || U16(b, 0) != 0 || (U16(b, 2) != 1 && U16(b, 2) != 2)) {
    *error = "is not an icon (.ico) file";
    return false;
  }
  if (U16(b, 2) == 2) {
    *error = "is a cursor, not an icon";
    return false;
  }
  const uint32_t count = U16(b, 4);
  if (count == 0 || 6 + 16ull * count > b.size()) {
    *error = count == 0 ? "is an icon file without images" : "is cut short (its directory lies outside the file)";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = 6 + 16 * i;
    const uint32_t size = U32(b, entry + 8), at = U32(b, entry + 12);
    const uint32_t width = b[entry] ? b[entry] : 256;
    const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count);
    if (size < kInfoHeaderSize || static_cast<uint64_t>(at) + size > b.size()) {
      *error = "is damaged: " + which + " lies outside the file";
      return false;
    }
    if (std::memcmp(&b[at], kPngSignature, sizeof kPngSignature) == 0) continue;
    const uint32_t bits = U16(b, at + 14);
    if (U32(b, at) != kInfoHeaderSize || I32(b, at + 4) != static_cast<int32_t>(width) ||
        I32(b, at + 8) != static_cast<int32_t>(2 * width) || U16(b, at + 12) != 1 ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) {
      *error = "is damaged: " + which + " is neither a PNG nor an icon bitmap of its size";
      return false;
    }
  }
  return true;
}

std::vector<unsigned char> DrawWatermark(int percent) {
  // Drawn at its scale, not stretched: the geometry is in pixels at 100 %.
  const double scale = percent / 100.0;
  const int width = ScaledSide(kWatermarkWidth, percent), height = ScaledSide(kWatermarkHeight, percent);
  const int stride = (width * 3 + 3) & ~3;
  std::vector<unsigned char> rows(static_cast<size_t>(stride) * height, 0);
  const double size = 96 * scale, left = (width - size) / 2, top = 80 * scale;
  for (int y = 0; y < height; ++y) {
    // Soft bands of light across the lower half that vary by row only: each
    // row of the background is one colour, so that the image compresses to
    // a fraction of one whose every pixel differs (it travels in every
    // package that keeps the neutral artwork).
    const double v = y / scale;
    Rgb back = Mix(kDeep, kTeal, static_cast<double>(y) / height);
    const double band = std::sin(v / 23.0) * 0.5 + 0.5;
    back = Mix(back, kMint, 0.10 * band * std::clamp((v - 150) / 195.0, 0.0, 1.0));
    for (int x = 0; x < width; ++x) {
      double alpha = 0;
      Rgb pixel = EmblemPixel(static_cast<int>(x - left), static_cast<int>(y - top), size, back, &alpha);
      unsigned char* p = &rows[static_cast<size_t>(height - 1 - y) * stride + 3 * x];
      p[0] = Byte(pixel.b), p[1] = Byte(pixel.g), p[2] = Byte(pixel.r);
    }
  }
  return BitmapFile(width, height, 24, {}, rows);
}

std::vector<unsigned char> DrawHeader(int percent) {
  // A palette of grey-to-teal ramps is plenty for an emblem on white.
  std::vector<unsigned char> palette;
  std::vector<Rgb> colours;
  for (int i = 0; i < 256; ++i) {
    Rgb c = i < 128 ? Mix(kWhite, kTeal, i / 127.0) : Mix(kTeal, kDeep, (i - 128) / 127.0);
    colours.push_back(c);
    palette.insert(palette.end(), {Byte(c.b), Byte(c.g), Byte(c.r), 0});
  }
  auto nearest = [&](Rgb c) {
    int best = 0;
    double bestDistance = 1e18;
    for (int i = 0; i < 256; ++i) {
      double d = (c.r - colours[i].r) * (c.r - colours[i].r) + (c.g - colours[i].g) * (c.g - colours[i].g) +
                 (c.b - colours[i].b) * (c.b - colours[i].b);
      if (d < bestDistance) bestDistance = d, best = i;
    }
    return static_cast<unsigned char>(best);
  };
  const double scale = percent / 100.0;
  const int width = ScaledSide(kHeaderWidth, percent), height = ScaledSide(kHeaderHeight, percent);
  const int stride = (width + 3) & ~3;
  std::vector<unsigned char> rows(static_cast<size_t>(stride) * height, 0);
  const double size = 44 * scale, left = 38 * scale, top = 7 * scale;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double alpha = 0;
      Rgb pixel = EmblemPixel(static_cast<int>(x - left), static_cast<int>(y - top), size, kWhite, &alpha);
      rows[static_cast<size_t>(height - 1 - y) * stride + x] = nearest(pixel);
    }
  }
  return BitmapFile(width, height, 8, palette, rows);
}

std::vector<unsigned char> DrawIcon() {
  const int sizes[] = {16, 32, 48};
  std::vector<std::vector<unsigned char>> images;
  for (int size : sizes) {
    std::vector<unsigned char> image;
    Put32(&image, kInfoHeaderSize);
    Put32(&image, static_cast<uint32_t>(size));
    Put32(&image, static_cast<uint32_t>(2 * size));
    Put16(&image, 1);
    Put16(&image, 32);
    const uint32_t maskStride = ((size + 31) / 32) * 4;
    Put32(&image, static_cast<uint32_t>(size * size * 4 + maskStride * size));
    for (int i = 0; i < 4; ++i) Put32(&image, 0);
    for (int y = size - 1; y >= 0; --y) {
      for (int x = 0; x < size; ++x) {
        double alpha = 0;
        Rgb pixel = EmblemPixel(x, y, size, kTeal, &alpha);
        image.insert(image.end(), {Byte(pixel.b), Byte(pixel.g), Byte(pixel.r), Byte(alpha * 255)});
      }
    }
    image.insert(image.end(), maskStride * size, 0);
    images.push_back(image);
  }
  std::vector<unsigned char> out;
  Put16(&out, 0);
  Put16(&out, 1);
  Put16(&out, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    out.insert(out.end(), {static_cast<unsigned char>(sizes[i]), static_cast<unsigned char>(sizes[i]), 0, 0});
    Put16(&out, 1);
    Put16(&out, 32);
    Put32(&out, static_cast<uint32_t>(images[i].size()));
    Put32(&out, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
  return out;
}
