// The real kxcore64.dll with the real runtime data, on the Xvfb display:
// every setup page and both progress boxes, shown by kxcore_page_host and
// read back and pressed through the UI test driver.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "tests/driver/ui_driver.h"
#include "tests/support/test_files.h"

namespace {

using kxdrive::Control;
using kxdrive::ControlText;
using kxdrive::IsEnabled;
using kxdrive::IsVisible;
using kxdrive::WindowText;

constexpr wchar_t kTitle[] = L"Quillmark Toolkit Setup (64-bit)";

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

bool CopyFolder(const std::wstring& from, const std::wstring& to) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool copied = true;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    copied &= CopyFileW((from + L"\\" + found.cFileName).c_str(), (to + found.cFileName).c_str(), FALSE) != 0;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return copied;
}

std::wstring ProgramFiles() {
  wchar_t path[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"ProgramW6432", path, MAX_PATH);
  if (!length) length = GetEnvironmentVariableW(L"ProgramFiles", path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring ClassNameOf(HWND page, int id) { return kxdrive::ClassName(Control(page, id)); }

int ProgressPosition(HWND bar) {
  DWORD_PTR position = 0;
  SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &position);
  return static_cast<int>(position);
}

// A 24-bit BMP of one colour (red, green, blue), as a wizard image at some
// scale.
std::string SolidBitmap(int width, int height, BYTE red, BYTE green, BYTE blue) {
  const int stride = (width * 3 + 3) & ~3;
  std::string bmp(54, '\0');
  auto put32 = [&](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>(value >> (8 * i));
  };
  bmp[0] = 'B', bmp[1] = 'M';
  put32(2, 54 + stride * height), put32(10, 54), put32(14, 40), put32(18, width), put32(22, height);
  bmp[26] = 1, bmp[28] = 24;
  std::string row;
  for (int x = 0; x < width; ++x) row += {static_cast<char>(blue), static_cast<char>(green), static_cast<char>(red)};
  row.resize(stride, '\0');
  for (int y = 0; y < height; ++y) bmp += row;
  return bmp;
}

// The colour on the screen at (x, y) of a control's client area.
COLORREF ScreenColour(HWND control, int x, int y) {
  POINT at = {x, y};
  ClientToScreen(control, &at);
  HDC screen = GetDC(nullptr);
  const COLORREF colour = GetPixel(screen, at.x, at.y);
  ReleaseDC(nullptr, screen);
  return colour;
}

constexpr int kWatermarkControl = 6;

// Each test runs the host on a private copy of a staged runtime folder: the
// final page writes kxfinEnglishsrv.rtf into it.
class PagesTest : public ::testing::Test {
 protected:
  void UseRuntime(const char* variable) {
    runtime_ = scratch_ / L"runtime\\";
    CreateDirectoryW(runtime_.c_str(), nullptr);
    ASSERT_TRUE(CopyFolder(kxtest::TestDataPath(variable), runtime_));
  }

  std::map<std::wstring, std::wstring> Host(const std::wstring& command, const std::wstring& dialog = L"",
                                            int counter = 0, const std::wstring& extra = L"") {
    return {{L"KX_HOST_RUNTIME", runtime_}, {L"KX_HOST_COMMAND", command}, {L"KX_HOST_DIALOG", dialog},
            {L"KX_HOST_COUNTER", std::to_wstring(counter)}, {L"KX_HOST_SET", extra},
            {L"KX_HOST_EVENTS", events_}, {L"KX_HOST_DONE", doneName_}};
  }

  bool Start(kxdrive::Session& session, const std::map<std::wstring, std::wstring>& environment,
             const std::wstring& arguments = L"") {
    return session.Start(OwnFolder() + L"kxcore_page_host.exe", arguments, environment);
  }

  std::string Events() { return kxtest::ReadBytes(events_); }

  void SetUp() override {
    UseRuntime("KX_TEST_RUNTIME");
    events_ = scratch_ / L"events.txt";
    doneName_ = L"kxcore-page-host-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount());
    done_ = CreateEventW(nullptr, TRUE, FALSE, doneName_.c_str());
  }

  void TearDown() override { CloseHandle(done_); }

  kxtest::ScratchFolder scratch_;
  std::wstring runtime_;
  std::wstring events_;
  std::wstring doneName_;
  HANDLE done_ = nullptr;
};

TEST_F(PagesTest, WelcomePageHasItsButtonsAndBackDisabled) {
  kxdrive::Session session(L"page-welcome");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizwelc")));
  HWND page = session.WaitForPage(L"dlgwizwelc");
  ASSERT_TRUE(page);
  EXPECT_EQ(WindowText(page), kTitle);
  EXPECT_EQ(ControlText(page, 1), L"&Next >");
  EXPECT_EQ(ControlText(page, 2), L"&Cancel");
  EXPECT_EQ(ControlText(page, 3), L"< &Back");
  EXPECT_TRUE(IsEnabled(Control(page, 1)));
  EXPECT_FALSE(IsEnabled(Control(page, 3)));
  EXPECT_NE(ControlText(page, 5).find(L"Welcome to the Quillmark Toolkit Setup Wizard"), std::wstring::npos);
  EXPECT_TRUE(IsVisible(Control(page, 6)));  // the side image, inside panel 4
  EXPECT_TRUE(IsVisible(Control(page, 8)));  // the separator
  EXPECT_TRUE(session.Press(page, 1));
  EXPECT_EQ(session.WaitForExit(), 1u);
}

// Beside Quillmark's watermark at 100 %, a green one at 200 %: at 96 DPI
// the wizard keeps to the first (DoubleDpiPagesTest shows the second).
TEST_F(PagesTest, At100PercentTheWatermarkMadeFor100PercentShows) {
  ASSERT_TRUE(kxtest::WriteBytes(runtime_ + L"kxwaterm200.bmp", SolidBitmap(350, 690, 0, 255, 0)));
  kxdrive::Session session(L"page-welcome-two-scales");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizwelc")));
  HWND page = session.WaitForPage(L"dlgwizwelc");
  ASSERT_TRUE(page);
  HWND watermark = Control(page, kWatermarkControl);
  EXPECT_NE(ScreenColour(watermark, 87, 172), RGB(0, 255, 0));
  EXPECT_NE(ScreenColour(watermark, 10, 300), RGB(0, 255, 0));
  EXPECT_TRUE(session.Press(page, 1));
  EXPECT_EQ(session.WaitForExit(), 1u);
}

TEST_F(PagesTest, EscapeOnTheWelcomePagePressesCancel) {
  kxdrive::Session session(L"page-welcome-escape");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizwelc")));
  HWND page = session.WaitForPage(L"dlgwizwelc");
  ASSERT_TRUE(page);
  session.PressKey(page, VK_ESCAPE);
  EXPECT_EQ(session.WaitForExit(), 2u);
  EXPECT_NE(Events().find("event 1 2"), std::string::npos);
}

TEST_F(PagesTest, LicencePageAsksYesOrNo) {
  kxdrive::Session session(L"page-licence");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizlicag", 1)));
  HWND page = session.WaitForPage(L"dlgwizlicag");
  ASSERT_TRUE(page);
  EXPECT_EQ(ControlText(page, 1), L"&Yes");
  EXPECT_EQ(ControlText(page, 2), L"&No");
  EXPECT_EQ(ControlText(page, 3), L"< &Back");
  EXPECT_TRUE(IsEnabled(Control(page, 3)));
  EXPECT_EQ(ControlText(page, 5), L"License Agreement");
  EXPECT_EQ(ControlText(page, 6),
            L"Please read the following license agreement. Press the PAGE DOWN key to see the rest of the "
            L"agreement.");
  EXPECT_NE(ControlText(page, 20).find(L"QUILLMARK TOOLKIT"), std::wstring::npos);
  EXPECT_EQ(ControlText(page, 21).substr(0, 49), L"Do you accept all of the terms of the preceding L");
  EXPECT_EQ(ControlText(page, 11), L"Quillmark Toolkit Setup");
  EXPECT_TRUE(session.Press(page, 2));
  EXPECT_EQ(session.WaitForExit(), 2u);
}

TEST_F(PagesTest, DestinationPageShowsTheFolderAndBrowse) {
  kxdrive::Session session(L"page-destination");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizseldir", 2)));
  HWND page = session.WaitForPage(L"dlgwizseldir");
  ASSERT_TRUE(page);
  EXPECT_EQ(ControlText(page, 5), L"Destination Folder for Files");
  EXPECT_EQ(ControlText(page, 6), L"Please select the destination folder where the package should extract the files:");
  EXPECT_EQ(ControlText(page, 12), L"Please select the destination folder:");
  EXPECT_EQ(ClassNameOf(page, 20), L"Edit");
  EXPECT_EQ(ControlText(page, 20), ProgramFiles() + L"\\Quillmark");
  EXPECT_EQ(ControlText(page, 21), L"Bro&wse");
  EXPECT_EQ(ControlText(page, 1), L"&Next >");
  EXPECT_TRUE(session.Press(page, 3));
  EXPECT_EQ(session.WaitForExit(), 3u);
}

TEST_F(PagesTest, StartMenuPageTakesEnterAsEventThree) {
  kxdrive::Session session(L"page-startmenu");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizselgroup", 3)));
  HWND page = session.WaitForPage(L"dlgwizselgroup");
  ASSERT_TRUE(page);
  EXPECT_EQ(ControlText(page, 5), L"Select Start Menu Folder");
  EXPECT_EQ(ControlText(page, 12), L"Please select the start menu folder where to place shortcuts:");
  EXPECT_EQ(ControlText(page, 20), L"Quillmark");
  EXPECT_EQ(ControlText(page, 21), L"Bro&wse");
  // The focus is on the folder field, not a button: Enter is event 3, which
  // this page's handler takes as Next.
  session.PressKey(page, VK_RETURN);
  EXPECT_EQ(session.WaitForExit(), 1u);
  EXPECT_NE(Events().find("event 3 0"), std::string::npos);
}

TEST_F(PagesTest, FinalPageShowsTheChosenFolderAndHidesCancel) {
  kxdrive::Session session(L"page-final");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizfinal")));
  HWND page = session.WaitForPage(L"dlgwizfinal");
  ASSERT_TRUE(page);
  EXPECT_EQ(ControlText(page, 1), L"C&lose");
  EXPECT_FALSE(IsVisible(Control(page, 2)));
  EXPECT_FALSE(IsEnabled(Control(page, 3)));
  EXPECT_FALSE(IsVisible(Control(page, 6)));
  EXPECT_FALSE(IsVisible(Control(page, 7)));
  EXPECT_TRUE(IsVisible(Control(page, 9)));
  // The folder as written: the RTF copy escaped its backslashes.
  EXPECT_NE(ControlText(page, 5).find(ProgramFiles() + L"\\Quillmark"), std::wstring::npos) << ControlText(page, 5);
  // Cancel is hidden, so Esc and the close box do nothing.
  session.PressKey(page, VK_ESCAPE);
  PostMessageW(page, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(session.Press(page, 1));
  EXPECT_EQ(session.WaitForExit(), 1u);
  EXPECT_EQ(Events().find("event 1 2"), std::string::npos);
}

TEST_F(PagesTest, FinalPageTaskBoxesShowTheirCaptionsAndState) {
  kxdrive::Session session(L"page-final-tasks");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizfinal", 0,
                                  L"KXRUNTASK1V=1|KXRUNTASK1C=#RunProgram|KXRUNTASK1S=1|"
                                  L"KXRUNTASK2V=1|KXRUNTASK2C=#OpenFolder|KXRUNTASK2S=0")));
  HWND page = session.WaitForPage(L"dlgwizfinal");
  ASSERT_TRUE(page);
  EXPECT_EQ(ControlText(page, 6), L"&Start the program now");
  EXPECT_TRUE(kxdrive::IsChecked(Control(page, 6)));
  EXPECT_EQ(ControlText(page, 7), L"&Open the installation folder");
  EXPECT_FALSE(kxdrive::IsChecked(Control(page, 7)));
  EXPECT_TRUE(session.Press(page, 7));  // a check box reports event 1 too
  EXPECT_TRUE(session.Press(page, 1));
  EXPECT_EQ(session.WaitForExit(), 1u);
  EXPECT_NE(Events().find("event 1 7"), std::string::npos);
}

TEST_F(PagesTest, SetupProgressBoxStaysResponsiveAndCancelAsks) {
  kxdrive::Session session(L"progress-setup");
  ASSERT_TRUE(Start(session, Host(L"progress")));
  HWND box = session.WaitForPage(L"dlgprogress");
  ASSERT_TRUE(box);
  EXPECT_EQ(ControlText(box, 5), L"Unpacking Files");
  EXPECT_EQ(ControlText(box, 21), L"Extracting docs/LICENSE.txt...");
  EXPECT_EQ(ProgressPosition(Control(box, 20)), 40);
  EXPECT_FALSE(IsEnabled(Control(box, 1)));
  EXPECT_FALSE(IsEnabled(Control(box, 3)));
  // The host's main thread is blocked; the box answers all the same.
  EXPECT_TRUE(session.Press(box, 2));
  EXPECT_TRUE(session.Answer(L"Do you really want to abort the extraction process?", IDNO));
  EXPECT_TRUE(session.Press(box, 2));
  EXPECT_TRUE(session.Answer(L"Do you really want to abort the extraction process?", IDYES));
  EXPECT_EQ(session.WaitForExit(), 2u);
  std::string events = Events();
  EXPECT_EQ(events.find("event 0 0"), 0u) << events;
  EXPECT_NE(events.find("box 0 1"), std::string::npos) << events;  // event 0 came before the call returned
}

TEST_F(PagesTest, SetupProgressBoxHidesCancelAndClosesOnTheCloseMessage) {
  kxdrive::Session session(L"progress-setup-nocancel");
  ASSERT_TRUE(Start(session, Host(L"progress", L"", 0, L"KXEXTHC=1")));
  HWND box = session.WaitForPage(L"dlgprogress");
  ASSERT_TRUE(box);
  EXPECT_FALSE(IsVisible(Control(box, 2)));
  session.PressKey(box, VK_ESCAPE);
  SetEvent(done_);
  EXPECT_EQ(session.WaitForExit(), 0u);
  EXPECT_EQ(Events().find("event 1"), std::string::npos);
}

TEST_F(PagesTest, UninstallerProgressBox) {
  UseRuntime("KX_TEST_RUNTIME_UNINST");
  kxdrive::Session session(L"progress-uninstall");
  ASSERT_TRUE(Start(session, Host(L"uninstall-progress")));
  HWND box = session.WaitForPage(L"dlgprogress");
  ASSERT_TRUE(box);
  RECT client;
  GetClientRect(box, &client);
  EXPECT_EQ(client.right, 400);
  EXPECT_EQ(client.bottom, 200);
  EXPECT_FALSE(IsVisible(Control(box, 0)));
  EXPECT_EQ(ControlText(box, 4), L"Uninstalling");
  EXPECT_EQ(ControlText(box, 6),
            L"Please wait while removing the changes performed by the package on your computer...");
  EXPECT_EQ(ProgressPosition(Control(box, 3)), 60);
  SetEvent(done_);
  EXPECT_EQ(session.WaitForExit(), 0u);
}

TEST_F(PagesTest, SilentSwitchHoldsAgainstTheScript) {
  kxdrive::Session session(L"switch-silent");
  ASSERT_TRUE(Start(session, Host(L"variables"), L"/S /D=C:\\Quill Apps\\Toolkit"));
  EXPECT_EQ(session.WaitForExit(), 0u);
  std::string events = Events();
  EXPECT_NE(events.find("SILENT=1\r\n"), std::string::npos) << events;
  EXPECT_NE(events.find("DESTPATH=C:\\Quill Apps\\Toolkit\r\n"), std::string::npos) << events;
}

TEST_F(PagesTest, WithoutSwitchesTheScriptDecides) {
  kxdrive::Session session(L"switch-none");
  ASSERT_TRUE(Start(session, Host(L"variables")));
  EXPECT_EQ(session.WaitForExit(), 0u);
  EXPECT_NE(Events().find("SILENT=0\r\n"), std::string::npos) << Events();
}

TEST_F(PagesTest, UsageSwitchShowsTheUsageAndCancelsEveryPage) {
  kxdrive::Session session(L"switch-usage");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizwelc"), L"/?"));
  EXPECT_TRUE(
      session.Answer(L"Usage: [/S] [/SUPPRESSMSGBOXES] [/LOG[=file]] [/LANG=language] [/ALLOWDOWNGRADE] "
                     L"[/CLOSEAPPLICATIONS] [/NOCLOSEAPPLICATIONS] [/RESTARTAPPLICATIONS] [/ALLUSERS] [/CURRENTUSER] [/TASKS=tasks] "
                     L"[/D=folder] [/?]\r\n"
                     L"/S   runs silently",
                     IDOK));
  EXPECT_EQ(session.WaitForExit(), 2u);
  EXPECT_EQ(Events().find("event"), std::string::npos) << "no page was shown";
}

TEST_F(PagesTest, DamagedDialogDataIsReportedWithItsLineAndAborts) {
  std::string data = kxtest::ReadBytes(runtime_ + L"kxdlg.dat");
  // Cut the file inside the welcome page's second button.
  size_t cut = data.find("#Cancel\r\n");
  ASSERT_NE(cut, std::string::npos);
  ASSERT_TRUE(kxtest::WriteBytes(runtime_ + L"kxdlg.dat", data.substr(0, cut)));
  kxdrive::Session session(L"page-damaged-data");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizwelc")));
  HWND box = session.WaitForMessageBox(L"The installer's dialog data is damaged");
  ASSERT_TRUE(box);
  EXPECT_NE(kxdrive::MessageBoxText(box).find(L"kxdlg.dat, line 20: the file ends"), std::wstring::npos)
      << kxtest::Narrow(kxdrive::MessageBoxText(box));
  EXPECT_EQ(WindowText(box), kTitle);
  kxdrive::AnswerMessageBox(box, IDOK);
  EXPECT_EQ(session.WaitForExit(), 4u);
}

TEST_F(PagesTest, UnknownPageIsReportedAndAborts) {
  kxdrive::Session session(L"page-unknown");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizextra")));
  EXPECT_TRUE(session.Answer(L"holds no page named \"dlgwizextra\"", IDOK));
  EXPECT_EQ(session.WaitForExit(), 4u);
}

// The programs are DPI-aware: at 144 DPI every size is half as large again.
// Wine takes the DPI from the registry when a process starts.
class HighDpiPagesTest : public PagesTest {
 protected:
  explicit HighDpiPagesTest(DWORD dpi = 144) : dpi_(dpi) {}
  void SetUp() override {
    PagesTest::SetUp();
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key_, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi_), sizeof dpi_);
  }
  void TearDown() override {
    RegDeleteValueW(key_, L"LogPixels");
    RegCloseKey(key_);
    PagesTest::TearDown();
  }
  const DWORD dpi_;
  HKEY key_ = nullptr;
};

class DoubleDpiPagesTest : public HighDpiPagesTest {
 protected:
  DoubleDpiPagesTest() : HighDpiPagesTest(192) {}
};

TEST_F(HighDpiPagesTest, LicencePageScalesItsLayoutAndFonts) {
  kxdrive::Session session(L"page-licence-144dpi");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizlicag", 1)));
  HWND page = session.WaitForPage(L"dlgwizlicag");
  ASSERT_TRUE(page);
  RECT client;
  GetClientRect(page, &client);
  EXPECT_EQ(client.right, 825);
  EXPECT_EQ(client.bottom, 600);
  RECT next;
  GetWindowRect(Control(page, 1), &next);
  MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&next), 2);
  EXPECT_EQ(next.left, 515);  // 343 units: 514.5 rounded
  EXPECT_EQ(next.top, 540);
  EXPECT_EQ(next.right - next.left, 132);  // to 431 units: 646.5 rounded
  EXPECT_TRUE(session.Press(page, 1));
  EXPECT_EQ(session.WaitForExit(), 1u);
}

// At 200 % the wizard shows the watermark made for 200 %, pixel for pixel
// from the control's edge: all of its 350 x 690 pixels green, the control's
// last columns (360 wide) the panel's white.
TEST_F(DoubleDpiPagesTest, TheWelcomePageShowsTheWatermarkMadeFor200Percent) {
  ASSERT_TRUE(kxtest::WriteBytes(runtime_ + L"kxwaterm200.bmp", SolidBitmap(350, 690, 0, 255, 0)));
  kxdrive::Session session(L"page-welcome-200dpi");
  ASSERT_TRUE(Start(session, Host(L"page", L"dlgwizwelc")));
  HWND page = session.WaitForPage(L"dlgwizwelc");
  ASSERT_TRUE(page);
  RECT client;
  GetClientRect(page, &client);
  EXPECT_EQ(client.right, 1100);
  EXPECT_EQ(client.bottom, 800);
  HWND watermark = Control(page, kWatermarkControl);
  for (POINT at : {POINT{0, 0}, POINT{175, 345}, POINT{349, 600}})
    EXPECT_EQ(ScreenColour(watermark, at.x, at.y), RGB(0, 255, 0)) << at.x << ", " << at.y;
  EXPECT_EQ(ScreenColour(watermark, 355, 345), RGB(255, 255, 255));
  EXPECT_TRUE(session.Press(page, 1));
  EXPECT_EQ(session.WaitForExit(), 1u);
}

}  // namespace
