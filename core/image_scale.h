// Which of a wizard image's scales (base/package_format.h) the dialogs draw
// at a window's DPI, and at what size. Portable: no Windows header, so that
// the choice is tested and fuzzed natively.
#ifndef KX_CORE_IMAGE_SCALE_H
#define KX_CORE_IMAGE_SCALE_H

#include "base/package_format.h"

namespace kxcore {

// present[i]: the image exists at kxformat::kImageScales[i]. Returns the
// index of the scale closest to dpi (96 is 100 %); of two as close, the
// larger, which loses detail when shrunk instead of blurring when grown.
// -1 when none is present.
int ClosestImageScale(const bool (&present)[kxformat::kImageScaleCount], unsigned dpi);

// The pixels an image side of `side` pixels at `percent` covers in a window
// at dpi, rounded to the nearest: the side itself when the scale is the
// window's.
int ImageSideAtDpi(int side, int percent, unsigned dpi);

}  // namespace kxcore

#endif
