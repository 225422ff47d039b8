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

// A Windows .ico: the icon directory and each image (a DIB or a PNG) within
// the file. False with what is wrong.
bool CheckIcon(const std::vector<unsigned char>& bytes, std::string* error);

std::vector<unsigned char> DrawWatermark();  // 24 bits per pixel
std::vector<unsigned char> DrawHeader();     // 8 bits per pixel
std::vector<unsigned char> DrawIcon();       // 16, 32 and 48 pixels, 32 bits with alpha

#endif
