// The wizard's images and the package icon as kxpack reads them: BMP at
// every scale of either image, PNG (the chunk walk, then libpng's decoding
// and the conversion into the programs' bitmap), and .ico with DIB or PNG
// images.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/kxpack/artwork.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> bytes(data, data + size);
  std::string error;
  ScaledImage image;
  CheckBitmap(bytes, kWatermarkWidth, kWatermarkHeight, &error);
  ReadWizardImage(bytes, kWatermarkWidth, kWatermarkHeight, &image, &error);
  // A converted image must be a whole bitmap of its scale's size.
  if (ReadWizardImage(bytes, kHeaderWidth, kHeaderHeight, &image, &error) && image.bitmap[28] != 32 &&
      !CheckBitmap(image.bitmap, ScaledSide(kHeaderWidth, image.percent), ScaledSide(kHeaderHeight, image.percent),
                   &error))
    __builtin_trap();
  CheckIcon(bytes, &error);
  return 0;
}
