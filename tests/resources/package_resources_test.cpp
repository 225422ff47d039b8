// The package's own resources as Windows reads them: the title the launcher
// loads, version information, the icon Explorer shows, and a checksum that
// matches the file.
#include <windows.h>
#include <imagehlp.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

struct Expected {
  const char* folderVariable;
  const wchar_t* file;
  const wchar_t* title;
  const wchar_t* product;
  const wchar_t* description;
  const wchar_t* publisher;
  const wchar_t* version;
  DWORD versionHigh, versionLow;
  COLORREF iconColour;  // CLR_INVALID: not checked
};

const Expected kPrograms[] = {
    {"KX_TEST_OUT", L"setup.exe", L"Quillmark Toolkit Setup (64-bit)", L"Quillmark Toolkit",
     L"Quillmark Toolkit Setup", L"Quillmark, LLC", L"2020.01.15.01", 0x07E40001, 0x000F0001, CLR_INVALID},
    {"KX_TEST_OUT", L"Uninst.exe", L"Quillmark Toolkit Setup (64-bit)", L"Quillmark Toolkit",
     L"Quillmark Toolkit Uninstaller", L"Quillmark, LLC", L"2020.01.15.01", 0x07E40001, 0x000F0001, CLR_INVALID},
    {"KX_TEST_PACKAGES", L"signed\\setup.exe", L"Signed Sample Setup", L"Signed Sample", L"Signed Sample Setup",
     L"Kx Test Signers", L"4.5.6.7", 0x00040005, 0x00060007, RGB(0x1E, 0x90, 0xA0)},
    {"KX_TEST_PACKAGES", L"signed\\Uninst.exe", L"Signed Sample Setup", L"Signed Sample",
     L"Signed Sample Uninstaller", L"Kx Test Signers", L"4.5.6.7", 0x00040005, 0x00060007, RGB(0x1E, 0x90, 0xA0)},
};

// The colour at the middle of the icon's colour bitmap.
COLORREF IconCentre(HICON icon) {
  ICONINFO info = {};
  if (!GetIconInfo(icon, &info)) return CLR_INVALID;
  BITMAP bitmap = {};
  GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, info.hbmColor);
  COLORREF colour = GetPixel(dc, bitmap.bmWidth / 2, bitmap.bmHeight / 2);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return colour;
}

class PackageResources : public ::testing::TestWithParam<Expected> {};

TEST_P(PackageResources, TitleVersionIconAndChecksumAreThePackages) {
  const Expected& e = GetParam();
  const std::wstring path = TestDataPath(e.folderVariable) + L"\\" + e.file;

  // The title as the launcher loads it, beside the strings and the manifest
  // the stub brought.
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_TRUE(module != nullptr) << Narrow(path);
  wchar_t text[260] = L"";
  LoadStringW(module, 0, text, 260);
  EXPECT_STREQ(e.title, text);
  LoadStringW(module, 1, text, 260);
  EXPECT_STREQ(L"Fatal Error", text);
  EXPECT_TRUE(FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) != nullptr) << "manifest lost";
  FreeLibrary(module);

  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, &block[0]));
  EXPECT_EQ(VersionString(block, L"ProductName"), e.product);
  EXPECT_EQ(VersionString(block, L"FileDescription"), e.description);
  EXPECT_EQ(VersionString(block, L"CompanyName"), e.publisher);
  EXPECT_EQ(VersionString(block, L"FileVersion"), e.version);
  EXPECT_EQ(VersionString(block, L"ProductVersion"), e.version);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, e.versionHigh);
  EXPECT_EQ(fixed->dwFileVersionLS, e.versionLow);
  EXPECT_EQ(fixed->dwProductVersionMS, e.versionHigh);

  EXPECT_EQ(ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0), 1u);
  HICON large = nullptr;
  ASSERT_EQ(ExtractIconExW(path.c_str(), 0, &large, nullptr, 1), 1u);
  if (e.iconColour != CLR_INVALID) {
    EXPECT_EQ(IconCentre(large), e.iconColour);
  }
  DestroyIcon(large);

  DWORD stored = 0, computed = 0;
  ASSERT_EQ(MapFileAndCheckSumW(path.c_str(), &stored, &computed), CHECKSUM_SUCCESS);
  EXPECT_EQ(stored, computed);
}

INSTANTIATE_TEST_SUITE_P(BothProgramsOfBothPackages, PackageResources, ::testing::ValuesIn(kPrograms));

}  // namespace
