#include "core/image_scale.h"

namespace kxcore {

int ClosestImageScale(const bool (&present)[kxformat::kImageScaleCount], unsigned dpi) {
  // Compared in units of 1/96 per cent, so that 120 DPI is exactly 125 %.
  const long long wanted = static_cast<long long>(dpi) * 100;
  int best = -1;
  long long bestDistance = 0;
  for (int i = 0; i < kxformat::kImageScaleCount; ++i) {
    if (!present[i]) continue;
    long long distance = static_cast<long long>(kxformat::kImageScales[i]) * 96 - wanted;
    if (distance < 0) distance = -distance;
    // The scales rise, so a tie goes to the later one.
    if (best < 0 || distance <= bestDistance) best = i, bestDistance = distance;
  }
  return best;
}

int ImageSideAtDpi(int side, int percent, unsigned dpi) {
  if (percent <= 0) return side;
  const long long scaled = static_cast<long long>(side) * dpi * 100;
  const long long unit = static_cast<long long>(percent) * 96;
  return static_cast<int>((scaled + unit / 2) / unit);
}

}  // namespace kxcore
