// Strict UTF-8 for the package's texts, which end up as UTF-16 on Windows.
#ifndef KX_TOOLS_KXPACK_UTF8_H
#define KX_TOOLS_KXPACK_UTF8_H

#include <cstddef>
#include <string>

// Decodes text; false at the first invalid sequence (overlong forms,
// surrogates and values beyond U+10FFFF included), with its byte offset.
bool DecodeUtf8(const std::string& text, std::u32string* points, size_t* badOffset);

// The length of valid UTF-8 text in UTF-16 units.
size_t Utf16Length(const std::u32string& points);

// One code point (at most U+10FFFF, no surrogate) as UTF-8.
std::string EncodeUtf8(char32_t point);

#endif
