// The wizard's images and the package icon as kxpack checks them: BMP at the
// two drawn sizes, and .ico with DIB or PNG images.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/kxpack/artwork.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> bytes(data, data + size);
  std::string error;
  CheckBitmap(bytes, kWatermarkWidth, kWatermarkHeight, &error);
  CheckBitmap(bytes, kHeaderWidth, kHeaderHeight, &error);
  CheckIcon(bytes, &error);
  return 0;
}
