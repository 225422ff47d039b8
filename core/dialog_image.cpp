#include "core/dialog_image.h"

#include "base/package_format.h"
#include "core/image_scale.h"

namespace kxcore {

namespace {

// A scale's digits; by hand, because std::to_wstring would bring the C
// library's formatted printing into the core library.
std::wstring ScaleDigits(int percent) {
  std::wstring digits;
  for (; percent > 0; percent /= 10) digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + percent % 10));
  return digits;
}

}  // namespace

HBITMAP LoadImageForDpi(const std::wstring& file, UINT dpi, int* percent) {
  *percent = 100;
  if (file.empty()) return nullptr;
  const size_t dot = file.find_last_of(L'.');
  const size_t separator = file.find_last_of(L"\\/");
  const bool hasExtension = dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator);
  const std::wstring stem = hasExtension ? file.substr(0, dot) : file;
  const std::wstring extension = hasExtension ? file.substr(dot) : L"";
  std::wstring names[kxformat::kImageScaleCount];
  bool present[kxformat::kImageScaleCount] = {};
  for (int i = 0; i < kxformat::kImageScaleCount; ++i) {
    names[i] = kxformat::kImageScales[i] == 100 ? file : stem + ScaleDigits(kxformat::kImageScales[i]) + extension;
    const DWORD attributes = GetFileAttributesW(names[i].c_str());
    present[i] = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  // A scale that does not load (damaged, say) gives way to the next best.
  for (int tries = 0; tries < kxformat::kImageScaleCount; ++tries) {
    const int chosen = ClosestImageScale(present, dpi);
    if (chosen < 0) break;
    auto bitmap = static_cast<HBITMAP>(
        LoadImageW(nullptr, names[chosen].c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (bitmap) {
      *percent = kxformat::kImageScales[chosen];
      return bitmap;
    }
    present[chosen] = false;
  }
  return nullptr;
}

void DrawImage(HDC dc, const RECT& client, HBITMAP bitmap, int percent, UINT dpi, bool rightToLeft,
               HBRUSH background) {
  BITMAP info;
  if (!bitmap || !GetObjectW(bitmap, sizeof info, &info)) {
    FillRect(dc, &client, background);
    return;
  }
  // Physical coordinates: a mirrored page puts the box on the other side,
  // but the picture in it reads as drawn.
  SetLayout(dc, 0);
  const int width = ImageSideAtDpi(info.bmWidth, percent, dpi);
  const int height = ImageSideAtDpi(info.bmHeight, percent, dpi);
  const int left = rightToLeft ? client.right - width : 0;
  const bool alpha = info.bmBitsPixel == 32;
  if (alpha || width < client.right || height < client.bottom) FillRect(dc, &client, background);
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, bitmap);
  if (alpha) {
    const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dc, left, 0, width, height, source, 0, 0, info.bmWidth, info.bmHeight, blend);
  } else if (width == info.bmWidth && height == info.bmHeight) {
    BitBlt(dc, left, 0, width, height, source, 0, 0, SRCCOPY);
  } else {
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, left, 0, width, height, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  }
  SelectObject(source, old);
  DeleteDC(source);
}

}  // namespace kxcore
