#include "core/dialog_layout.h"

namespace kxcore {
namespace {

constexpr int kNormalPoints = 9;
constexpr int kHeadingPoints = 12;
constexpr wchar_t kPreferredFace[] = L"Segoe UI";

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);

GetDpiForWindowFunction DpiForWindowFunction() {
  // Windows 10 1607 and later; older systems scale every window alike.
  static const auto function = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  return function;
}

int CALLBACK NoteFaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FaceInstalled(const wchar_t* face) {
  LOGFONTW wanted = {};
  wanted.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
  bool found = false;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExW(screen, &wanted, NoteFaceFound, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

}  // namespace

int ScaleUnits(int units, UINT dpi) { return MulDiv(units, static_cast<int>(dpi), kDesignDpi); }

RECT ScaleBox(int x, int y, int width, int height, UINT dpi) {
  RECT box;
  box.left = ScaleUnits(x, dpi);
  box.top = ScaleUnits(y, dpi);
  box.right = ScaleUnits(x + width, dpi);
  box.bottom = ScaleUnits(y + height, dpi);
  return box;
}

UINT SystemDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kDesignDpi;
}

UINT WindowDpi(HWND window) {
  if (GetDpiForWindowFunction function = DpiForWindowFunction()) {
    UINT dpi = function(window);
    if (dpi) return dpi;
  }
  return SystemDpi();
}

DialogFonts::~DialogFonts() { Release(); }

void DialogFonts::Release() {
  for (HFONT& font : fonts_) {
    if (font) DeleteObject(font);
    font = nullptr;
  }
}

std::wstring DialogFonts::FaceName() {
  static const std::wstring face = [] {
    if (FaceInstalled(kPreferredFace)) return std::wstring(kPreferredFace);
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) &&
        metrics.lfMessageFont.lfFaceName[0])
      return std::wstring(metrics.lfMessageFont.lfFaceName);
    return std::wstring(L"MS Shell Dlg 2");
  }();
  return face;
}

void DialogFonts::Create(UINT dpi) {
  Release();
  const std::wstring face = FaceName();
  struct Shape {
    int points;
    int weight;
  };
  const Shape shapes[3] = {{kNormalPoints, FW_NORMAL}, {kNormalPoints, FW_BOLD}, {kHeadingPoints, FW_BOLD}};
  for (int i = 0; i < 3; ++i) {
    LOGFONTW font = {};
    font.lfHeight = -MulDiv(shapes[i].points, static_cast<int>(dpi), 72);
    font.lfWeight = shapes[i].weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    lstrcpynW(font.lfFaceName, face.c_str(), LF_FACESIZE);
    fonts_[i] = CreateFontIndirectW(&font);
  }
  lineHeight_ = MulDiv(kNormalPoints, static_cast<int>(dpi), 72) * 4 / 3;
  HDC screen = GetDC(nullptr);
  if (screen && fonts_[0]) {
    HGDIOBJ old = SelectObject(screen, fonts_[0]);
    TEXTMETRICW metrics;
    if (GetTextMetricsW(screen, &metrics)) lineHeight_ = metrics.tmHeight + metrics.tmExternalLeading;
    SelectObject(screen, old);
  }
  if (screen) ReleaseDC(nullptr, screen);
}

HFONT DialogFonts::Get(FontRole role) const {
  HFONT font = fonts_[static_cast<int>(role)];
  return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

}  // namespace kxcore
