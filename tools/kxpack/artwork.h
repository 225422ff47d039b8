// The wizard's images and the package icon: the checks a package's files
// must pass, and the neutral artwork of packages (and starters) that give
// none.
#ifndef KX_TOOLS_KXPACK_ARTWORK_H
#define KX_TOOLS_KXPACK_ARTWORK_H

#include <string>
#include <vector>

// Sizes at which the setup's dialogs draw the images (runtime/setup/kxdlg.dat).
constexpr int kWatermarkWidth = 175, kWatermarkHeight = 345;
constexpr int kHeaderWidth = 90, kHeaderHeight = 58;

// An uncompressed Windows BMP of exactly width x height pixels, 8 bits per
// pixel with its palette or 24 bits, whole. False with what is wrong.
bool CheckBitmap(const std::vector<unsigned char>& bytes, int width, int height, std::string* error);

// One wizard image as the runtime carries it (base/package_format.h): its
// scale in per cent and the BMP the dialogs draw.
struct ScaledImage {
  int percent = 100;
  std::vector<unsigned char> bitmap;
};

// Reads one file the author gives for a wizard image of width x height
// pixels at 100 %: a BMP CheckBitmap takes or a PNG, at that size times one
// of kxformat::kImageScales. A PNG becomes a BMP of 24 bits, or of 32 bits
// with premultiplied alpha when it has any transparency. False with what is
// wrong.
bool ReadWizardImage(const std::vector<unsigned char>& bytes, int width, int height, ScaledImage* image,
                     std::string* error);

// A size at a scale, as the dialogs round it: width * percent / 100, to the
// nearest pixel.
int ScaledSide(int side, int percent);

// A Windows .ico: the icon directory and each image (a DIB or a PNG) within
// the file. False with what is wrong.
bool CheckIcon(const std::vector<unsigned char>& bytes, std::string* error);

// The neutral artwork at a scale of kxformat::kImageScales; kxpack ships
// it at kNeutralArtworkScales.
constexpr int kNeutralArtworkScales[] = {100, 200};
std::vector<unsigned char> DrawWatermark(int percent = 100);  // 24 bits per pixel
std::vector<unsigned char> DrawHeader(int percent = 100);     // 8 bits per pixel
std::vector<unsigned char> DrawIcon();       // 16, 32 and 48 pixels, 32 bits with alpha

#endif
