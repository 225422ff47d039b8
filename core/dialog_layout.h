// Dialog units, DPI and fonts. The programs declare themselves per-monitor
// DPI-aware, so Windows never stretches our windows: one dialog unit is one
// pixel at 96 DPI and every position, size and font is scaled by the DPI of
// the monitor the window stands on.
#ifndef KX_CORE_DIALOG_LAYOUT_H
#define KX_CORE_DIALOG_LAYOUT_H

#include <windows.h>

#include <string>

namespace kxcore {

constexpr UINT kDesignDpi = 96;

// A length in dialog units at the given DPI, rounded to the nearest pixel.
int ScaleUnits(int units, UINT dpi);

// The pixel rectangle of a box in dialog units. Both edges are scaled, not
// the size, so that boxes that touch at 96 DPI still touch at any DPI.
RECT ScaleBox(int x, int y, int width, int height, UINT dpi);

// The DPI of the window's monitor (GetDpiForWindow where Windows has it,
// else the screen's), never 0.
UINT WindowDpi(HWND window);

// The DPI the system draws text at for windows that do not scale themselves
// (rich-edit controls size their fonts by it).
UINT SystemDpi();

enum class FontRole { kNormal, kBold, kHeading };

// The wizard's fonts at one DPI: Segoe UI 9 pt where it is installed, else
// the system's message font face; bold titles; a 12 pt bold heading.
class DialogFonts {
 public:
  DialogFonts() = default;
  ~DialogFonts();
  DialogFonts(const DialogFonts&) = delete;
  DialogFonts& operator=(const DialogFonts&) = delete;

  // Creates the fonts for a DPI, replacing any older set.
  void Create(UINT dpi);
  HFONT Get(FontRole role) const;
  // Height of one line of normal text in pixels at the current DPI.
  int LineHeight() const { return lineHeight_; }
  // The face the fonts use.
  static std::wstring FaceName();

 private:
  void Release();
  HFONT fonts_[3] = {};
  int lineHeight_ = 0;
};

}  // namespace kxcore

#endif
