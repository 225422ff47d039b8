// PNG images a package's author gives for the wizard: kxpack reads them and
// hands the programs a bitmap they draw without a PNG decoder of their own.
// The file's structure is judged here first (every chunk inside the file,
// every CRC right, IHDR first, IEND last); libpng then decodes the pixels.
#ifndef KX_TOOLS_KXPACK_PNG_IMAGE_H
#define KX_TOOLS_KXPACK_PNG_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

// True when the bytes begin with the PNG signature.
bool LooksLikePng(const std::vector<unsigned char>& bytes);

// The image's size from its header, after the whole file's structure has
// been checked. False with what is wrong ("is cut short ...").
bool ReadPngSize(const std::vector<unsigned char>& bytes, uint32_t* width, uint32_t* height, std::string* error);

// Decodes a PNG whose size ReadPngSize gave into rows of blue, green, red
// and alpha bytes, top row first, not premultiplied. False with what is
// wrong; pixels is then empty.
bool DecodePng(const std::vector<unsigned char>& bytes, std::vector<unsigned char>* pixels, std::string* error);

#endif
