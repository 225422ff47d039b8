// The dialogs' images: the scale of a wizard image that suits the window's
// DPI (base/package_format.h names the files), and its drawing.
#ifndef KX_CORE_DIALOG_IMAGE_H
#define KX_CORE_DIALOG_IMAGE_H

#include <windows.h>

#include <string>

namespace kxcore {

// Loads the scale of the image file (its 100 % name, "...\kxwaterm.bmp")
// closest to dpi among those present. Returns the bitmap, which the caller
// deletes, and its scale in per cent; null when no scale of it loads.
HBITMAP LoadImageForDpi(const std::wstring& file, UINT dpi, int* percent);

// Draws the bitmap of scale `percent` into client at dpi: at its own size
// when that is the window's scale, else grown or shrunk to it, never to the
// box's shape. It stands at the box's leading edge (the right one when
// rightToLeft) and is never itself mirrored; what it leaves uncovered, and
// what shows through a 32-bit image's alpha, is background.
void DrawImage(HDC dc, const RECT& client, HBITMAP bitmap, int percent, UINT dpi, bool rightToLeft,
               HBRUSH background);

}  // namespace kxcore

#endif
