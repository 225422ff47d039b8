#include "tools/kxpack/utf8.h"

bool DecodeUtf8(const std::string& text, std::u32string* points, size_t* badOffset) {
  points->clear();
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t c = 0, least = 0;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, least = 0x10000;
    } else {
      *badOffset = i;
      return false;
    }
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= size || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
        *badOffset = i;
        return false;
      }
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      *badOffset = i;
      return false;
    }
    points->push_back(c);
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

size_t Utf16Length(const std::u32string& points) {
  size_t units = 0;
  for (char32_t c : points) units += c > 0xFFFF ? 2 : 1;
  return units;
}

std::string EncodeUtf8(char32_t c) {
  std::string text;
  if (c < 0x80) {
    text += static_cast<char>(c);
  } else if (c < 0x800) {
    text += static_cast<char>(0xC0 | (c >> 6));
  } else if (c < 0x10000) {
    text += static_cast<char>(0xE0 | (c >> 12));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (c >> 18));
    text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  }
  if (c >= 0x80) text += static_cast<char>(0x80 | (c & 0x3F));
  return text;
}
