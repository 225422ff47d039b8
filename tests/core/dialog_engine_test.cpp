// The dialog engine on real windows: dialogs built from data in the test,
// driven by keys and clicks that the handler posts to its own page, so that
// every step runs through the page's message loop as a user's would.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <vector>

#include "core/dialog_data.h"
#include "core/dialog_layout.h"
#include "core/dialog_runner.h"
#include "core/dialog_window.h"
#include "core/image_scale.h"
#include "core/language_table.h"
#include "core/variables.h"
#include "tests/support/test_files.h"

namespace {

struct Event {
  UINT event;
  WPARAM param;
  DWORD thread;
};

std::vector<Event> g_events;
std::function<int(UINT, HWND, WPARAM)> g_script;

int RecordingHandler(UINT event, HWND dialog, WPARAM param, LPARAM) {
  g_events.push_back({event, param, GetCurrentThreadId()});
  return g_script ? g_script(event, dialog, param) : 0;
}

// Buttons 1, 2 and 3 along the foot, an edit field and a check box on the
// page, and a panel holding a label with a variable and a nested panel.
kxcore::DialogSpec Page() {
  const char* text =
      "[dlgtest]\r\nN\r\n#KX.Dlg\r\n360\r\n220\r\n%APPTITLE%\r\n"
      "#KX.But\r\n180\r\n185\r\n81\r\n25\r\n#Next\r\n1\r\nN\r\n"
      "#KX.But\r\n270\r\n185\r\n81\r\n25\r\n&Cancel\r\n2\r\nN\r\n"
      "#KX.But\r\n90\r\n185\r\n81\r\n25\r\n< &Back\r\n3\r\nN\r\n"
      "#KX.Edit\r\n10\r\n100\r\n200\r\n23\r\n%FOLDER%\r\n20\r\nN\r\n"
      "#KX.Chk\r\n10\r\n130\r\n200\r\n20\r\nRun &it\r\n6\r\nN\r\n"
      "#KX.Cont\r\n0\r\n0\r\n360\r\n60\r\n4\r\n16777215\r\nC\r\n"
      "#KX.Lab\r\n10\r\n10\r\n300\r\n16\r\nNow %EXTNAME%\r\n5\r\n16777215\r\nCB\r\n"
      "#KX.Lab\r\n10\r\n30\r\n300\r\n16\r\n&Folder:\r\n9\r\n-1\r\nN\r\n"
      "#KX.Cont\r\n-3\r\n58\r\n366\r\n2\r\n8\r\n4342338\r\nCR\r\n#EndCont\r\n"
      "#EndCont\r\n"
      "#KX.Prog\r\n10\r\n160\r\n340\r\n12\r\n21\r\n"
      "#EndDlg\r\n";
  std::vector<kxcore::DialogSpec> dialogs;
  std::wstring error;
  EXPECT_TRUE(kxcore::ParseDialogData(text, &dialogs, &error)) << kxtest::Narrow(error);
  return dialogs.empty() ? kxcore::DialogSpec() : dialogs[0];
}

void PostKey(HWND target, WORD key) {
  PostMessageW(target, WM_KEYDOWN, key, 1);
  PostMessageW(target, WM_KEYUP, key, 1 | (3u << 30));
}

void Click(HWND dialog, int id) { PostMessageW(kxcore::FindDialogControl(dialog, id), BM_CLICK, 0, 0); }

std::wstring Text(HWND window) {
  wchar_t text[256];
  int length = GetWindowTextW(window, text, 256);
  return std::wstring(text, static_cast<size_t>(length));
}

class DialogEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_events.clear();
    g_script = nullptr;
    kxcore::ClearVariables();
    kxcore::LanguageTable table;
    table.texts[L"#next"] = L"&Next >";
    kxcore::SetActiveLanguageTable(table);
    kxcore::SetVariable(L"APPTITLE", L"Engine Test");
    kxcore::SetVariable(L"EXTNAME", L"docs/a.txt");
    kxcore::SetVariable(L"FOLDER", L"C:\\Quill & Co");
  }

  int Run(KxDialogHandler handler = RecordingHandler) {
    DWORD error = 0;
    int result = kxcore::RunModalPage(Page(), handler, &error);
    EXPECT_EQ(error, 0u);
    return result;
  }

  std::vector<std::pair<UINT, WPARAM>> Seen() const {
    std::vector<std::pair<UINT, WPARAM>> seen;
    for (const Event& event : g_events) seen.push_back({event.event, event.param});
    return seen;
  }
};

using EventList = std::vector<std::pair<UINT, WPARAM>>;

TEST_F(DialogEngineTest, EventZeroSeesEveryControlWithItsEvaluatedText) {
  g_script = [](UINT event, HWND page, WPARAM) {
    if (event != KX_EVENT_CREATED) return 0;
    EXPECT_FALSE(IsWindowVisible(page));  // sent before the page is shown
    EXPECT_EQ(Text(page), L"Engine Test");
    EXPECT_EQ(Text(kxcore::FindDialogControl(page, 1)), L"&Next >");
    EXPECT_EQ(Text(kxcore::FindDialogControl(page, 20)), L"C:\\Quill & Co");
    HWND label = kxcore::FindDialogControl(page, 5);  // inside panel 4
    EXPECT_EQ(GetParent(label), kxcore::FindDialogControl(page, 4));
    EXPECT_EQ(Text(label), L"Now docs/a.txt");
    // A label made without an ampersand shows later texts (file names) as
    // written; one with an ampersand marks an accelerator.
    EXPECT_TRUE(GetWindowLongW(label, GWL_STYLE) & SS_NOPREFIX);
    EXPECT_FALSE(GetWindowLongW(kxcore::FindDialogControl(page, 9), GWL_STYLE) & SS_NOPREFIX);
    EXPECT_NE(kxcore::FindDialogControl(page, 8), nullptr);  // two panels deep
    EXPECT_EQ(kxcore::FindDialogControl(page, 77), nullptr);
    wchar_t name[32] = {};
    GlobalGetAtomNameW(static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(GetPropW(page, kxcore::kDialogNameProperty))),
                       name, 32);
    EXPECT_STREQ(name, L"dlgtest");
    return 3;  // closes the page before it is ever shown
  };
  EXPECT_EQ(Run(), 3);
  EXPECT_EQ(Seen(), (EventList{{KX_EVENT_CREATED, 0}}));
}

TEST_F(DialogEngineTest, AButtonPressIsEventOneAndItsAnswerClosesThePage) {
  g_script = [](UINT event, HWND page, WPARAM param) {
    if (event == KX_EVENT_CREATED) {
      Click(page, 6);  // a check box: reported, the page stays
      Click(page, 1);
    }
    if (event == KX_EVENT_COMMAND && param == 6) {
      EXPECT_EQ(SendMessageW(kxcore::FindDialogControl(page, 6), BM_GETCHECK, 0, 0), BST_CHECKED);
    }
    return event == KX_EVENT_COMMAND && param == 1 ? 7 : 0;
  };
  EXPECT_EQ(Run(), 7);
  EXPECT_EQ(Seen(), (EventList{{KX_EVENT_CREATED, 0}, {KX_EVENT_COMMAND, 6}, {KX_EVENT_COMMAND, 1}}));
}

TEST_F(DialogEngineTest, EnterIsEventThreeUnlessThePushButtonHasTheFocus) {
  g_script = [](UINT event, HWND page, WPARAM param) {
    if (event == KX_EVENT_CREATED) {
      SetFocus(kxcore::FindDialogControl(page, 20));
      PostKey(kxcore::FindDialogControl(page, 20), VK_RETURN);
    } else if (event == KX_EVENT_ENTER) {
      HWND back = kxcore::FindDialogControl(page, 3);
      SetFocus(back);
      PostKey(back, VK_RETURN);
    }
    return event == KX_EVENT_COMMAND ? static_cast<int>(param) : 0;
  };
  EXPECT_EQ(Run(), 3);
  EXPECT_EQ(Seen(), (EventList{{KX_EVENT_CREATED, 0}, {KX_EVENT_ENTER, 0}, {KX_EVENT_COMMAND, 3}}));
}

TEST_F(DialogEngineTest, EscapeAndTheCloseBoxPressControlTwoOnlyWhileItIsUsable) {
  // Hidden, then disabled, then usable: only the last Esc and close reach
  // the handler as a press of 2.
  g_script = [](UINT event, HWND page, WPARAM param) {
    HWND cancel = kxcore::FindDialogControl(page, 2);
    if (event == KX_EVENT_CREATED) {
      ShowWindow(cancel, SW_HIDE);
      PostKey(kxcore::FindDialogControl(page, 20), VK_ESCAPE);
      PostMessageW(page, WM_SYSCOMMAND, SC_CLOSE, 0);
      Click(page, 6);
    } else if (event == KX_EVENT_COMMAND && param == 6 && !IsWindowVisible(cancel)) {
      ShowWindow(cancel, SW_SHOW);
      EnableWindow(cancel, FALSE);
      PostKey(kxcore::FindDialogControl(page, 20), VK_ESCAPE);
      PostMessageW(page, WM_CLOSE, 0, 0);
      Click(page, 6);
    } else if (event == KX_EVENT_COMMAND && param == 6) {
      EnableWindow(cancel, TRUE);
      PostMessageW(page, WM_CLOSE, 0, 0);
      PostKey(kxcore::FindDialogControl(page, 20), VK_ESCAPE);
    } else if (event == KX_EVENT_COMMAND && param == 2) {
      return g_events.size() == 4 ? 0 : 2;  // the close box, then Esc
    }
    return 0;
  };
  EXPECT_EQ(Run(), 2);
  EXPECT_EQ(Seen(), (EventList{{KX_EVENT_CREATED, 0},
                          {KX_EVENT_COMMAND, 6},
                          {KX_EVENT_COMMAND, 6},
                          {KX_EVENT_COMMAND, 2},
                          {KX_EVENT_COMMAND, 2}}));
}

TEST_F(DialogEngineTest, TheCloseBoxIsGreyedWhileControlTwoCannotBePressed) {
  static bool hideCancel;
  static UINT closeState;
  g_script = [](UINT event, HWND page, WPARAM) {
    if (event == KX_EVENT_CREATED) {
      if (hideCancel) ShowWindow(kxcore::FindDialogControl(page, 2), SW_HIDE);
      Click(page, 1);
      return 0;
    }
    closeState = GetMenuState(GetSystemMenu(page, FALSE), SC_CLOSE, MF_BYCOMMAND);
    return 1;
  };
  hideCancel = false;
  EXPECT_EQ(Run(), 1);
  EXPECT_FALSE(closeState & MF_GRAYED);
  hideCancel = true;
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(closeState & MF_GRAYED);
}

TEST_F(DialogEngineTest, WithoutAHandlerTheFootButtonsCloseThePage) {
  DWORD error = 0;
  HWND page = kxcore::CreateDialogWindow(Page(), nullptr, kxcore::DialogMode::kPage, &error);
  ASSERT_NE(page, nullptr);
  auto press = [page](int id) {
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(kxcore::FindDialogControl(page, id)));
  };
  int result = 0;
  press(6);
  EXPECT_FALSE(kxcore::DialogFinished(page, &result));
  press(2);
  EXPECT_TRUE(kxcore::DialogFinished(page, &result));
  EXPECT_EQ(result, 2);
  DestroyWindow(page);
}

TEST_F(DialogEngineTest, TheClientAreaAndControlsHaveTheirSizeInUnitsAtTheWindowsDpi) {
  g_script = [](UINT event, HWND page, WPARAM) {
    if (event != KX_EVENT_CREATED) return 0;
    const UINT dpi = kxcore::WindowDpi(page);
    RECT client;
    GetClientRect(page, &client);
    EXPECT_EQ(client.right, kxcore::ScaleUnits(360, dpi));
    EXPECT_EQ(client.bottom, kxcore::ScaleUnits(220, dpi));
    RECT button;
    GetWindowRect(kxcore::FindDialogControl(page, 1), &button);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&button), 2);
    RECT expected = kxcore::ScaleBox(180, 185, 81, 25, dpi);
    EXPECT_TRUE(EqualRect(&button, &expected));
    return 1;
  };
  EXPECT_EQ(Run(), 1);
}

// A width x height picture as a BMP, bottom-up: 24 bits, its left half
// `left` and its right half `right` (blue, green, red), or 32 bits with an
// alpha after each pixel's colours.
std::string Picture(int width, int height, const std::string& left, const std::string& right) {
  const int bytes = static_cast<int>(left.size());
  const int stride = (width * bytes + 3) & ~3;
  std::string bmp(54, '\0');
  auto put32 = [&](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>(value >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, 54 + stride * height);
  put32(10, 54);
  put32(14, 40);
  put32(18, width);
  put32(22, height);
  bmp[26] = 1;
  bmp[28] = static_cast<char>(bytes * 8);
  put32(34, stride * height);
  for (int y = 0; y < height; ++y) {
    std::string row;
    for (int x = 0; x < width; ++x) row += x < width / 2 ? left : right;
    row.resize(stride, '\0');
    bmp += row;
  }
  return bmp;
}

const std::string kRed("\0\0\xFF", 3), kBlue("\xFF\0\0", 3), kGreen("\0\xFF\0", 3);

// Red on the left half and blue on the right, at its box's size.
std::string TwoColourBitmap() { return Picture(100, 50, kRed, kBlue); }

// The colour on the screen at a point of a control, x and y in eighths of
// its width and height.
COLORREF ColourIn(HWND control, int x, int y) {
  RECT box;
  GetWindowRect(control, &box);
  HDC screen = GetDC(nullptr);
  const COLORREF colour = GetPixel(screen, box.left + (box.right - box.left) * x / 8,
                                   box.top + (box.bottom - box.top) * y / 8);
  ReleaseDC(nullptr, screen);
  return colour;
}

TEST(ImageScaleTest, TheScaleClosestToTheDpiWinsAndTheLargerOfTwoAsClose) {
  // Scales: 100, 125, 150, 175, 200, 250, 300.
  const struct {
    bool present[kxformat::kImageScaleCount];
    unsigned dpi;
    int expected;  // index, -1 for none
  } cases[] = {
      {{true, false, false, false, true, false, false}, 96, 0},
      {{true, false, false, false, true, false, false}, 192, 4},
      {{true, false, false, false, true, false, false}, 120, 0},   // 125 %: 100 is nearer than 200
      {{true, false, false, false, true, false, false}, 144, 4},   // 150 %: as near; the larger
      {{true, false, false, false, true, false, false}, 168, 4},
      {{true, false, false, false, true, false, false}, 288, 4},   // 300 %: the largest there is
      {{false, false, false, false, true, false, false}, 96, 4},   // no 100 %: what there is
      {{true, true, true, true, true, true, true}, 120, 1},
      {{true, true, true, true, true, true, true}, 240, 5},
      {{true, true, true, true, true, true, true}, 72, 0},
      {{true, false, false, false, false, false, true}, 192, 6},   // 200 %: 300 is as near as 100
      {{false, false, false, false, false, false, false}, 96, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dpi);
    EXPECT_EQ(kxcore::ClosestImageScale(c.present, c.dpi), c.expected);
  }
  EXPECT_EQ(kxcore::ImageSideAtDpi(175, 100, 96), 175);
  EXPECT_EQ(kxcore::ImageSideAtDpi(350, 200, 192), 350);  // unstretched at its own scale
  EXPECT_EQ(kxcore::ImageSideAtDpi(350, 200, 144), 263);
  EXPECT_EQ(kxcore::ImageSideAtDpi(175, 100, 192), 350);
}

// A picture at 100 % and 200 %: the window at 96 DPI shows the first, and
// after a move to a screen at 200 % the second, unstretched; a 32-bit
// picture's transparent half shows the page.
TEST_F(DialogEngineTest, AnImageShowsTheScaleOfTheWindowsDpiAndItsTransparency) {
  kxtest::ScratchFolder folder;
  ASSERT_TRUE(kxtest::WriteBytes(folder / L"pic.bmp", Picture(100, 50, kRed, kRed)));
  ASSERT_TRUE(kxtest::WriteBytes(folder / L"pic200.bmp", Picture(200, 100, kBlue, kBlue)));
  const std::string clear("\0\0\0\0", 4), green("\0\xFF\0\xFF", 4);
  ASSERT_TRUE(kxtest::WriteBytes(folder / L"glass.bmp", Picture(100, 30, clear, green)));
  kxcore::SetVariable(L"PICTURE", (folder / L"pic.bmp").c_str());
  kxcore::SetVariable(L"GLASS", (folder / L"glass.bmp").c_str());
  kxcore::DialogSpec page = Page();
  kxcore::ControlSpec image;
  image.kind = kxcore::ControlKind::kImage;
  image.x = 250, image.y = 100, image.width = 100, image.height = 50, image.id = 30;
  image.text = L"%PICTURE%";
  page.controls.push_back(image);
  image.y = 65, image.height = 30, image.id = 31, image.text = L"%GLASS%";
  page.controls.push_back(image);
  g_script = [](UINT event, HWND page, WPARAM) {
    if (event == KX_EVENT_CREATED) {
      Click(page, 2);
      return 0;
    }
    if (event != KX_EVENT_COMMAND) return 0;
    HWND picture = kxcore::FindDialogControl(page, 30), glass = kxcore::FindDialogControl(page, 31);
    UpdateWindow(page);
    if (kxcore::WindowDpi(page) != 96) return 2;  // the cases below are made for a screen at 96 DPI
    EXPECT_EQ(ColourIn(picture, 4, 4), RGB(255, 0, 0));
    EXPECT_EQ(ColourIn(glass, 2, 4), GetSysColor(COLOR_BTNFACE));  // the page, through a clear pixel
    EXPECT_EQ(ColourIn(glass, 6, 4), RGB(0, 255, 0));
    RECT suggested;
    GetWindowRect(page, &suggested);
    suggested.right = suggested.left + 2 * (suggested.right - suggested.left);
    suggested.bottom = suggested.top + 2 * (suggested.bottom - suggested.top);
    SendMessageW(page, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    UpdateWindow(page);
    RECT box;
    GetClientRect(picture, &box);
    EXPECT_EQ(box.right, 200);
    EXPECT_EQ(ColourIn(picture, 1, 1), RGB(0, 0, 255));
    EXPECT_EQ(ColourIn(picture, 7, 7), RGB(0, 0, 255));
    return 2;
  };
  DWORD error = 0;
  EXPECT_EQ(kxcore::RunModalPage(page, RecordingHandler, &error), 2);
  EXPECT_EQ(error, 0u);
}

// Arabic and the other right-to-left languages: the page is mirrored as
// Windows' own right-to-left dialogs are, its texts read right to left, the
// foot's buttons are tabbed in reading order, and a picture changes sides
// without being flipped.
TEST_F(DialogEngineTest, ARightToLeftLanguageMirrorsThePageButNotItsPictures) {
  kxtest::ScratchFolder folder;
  ASSERT_TRUE(kxtest::WriteBytes(folder / L"two.bmp", TwoColourBitmap()));
  kxcore::SetVariable(L"KXLANGRTL", L"1");
  kxcore::SetVariable(L"PICTURE", (folder / L"two.bmp").c_str());
  kxcore::DialogSpec page = Page();
  kxcore::ControlSpec image;
  image.kind = kxcore::ControlKind::kImage;
  image.x = 250, image.y = 100, image.width = 100, image.height = 50, image.id = 30;
  image.text = L"%PICTURE%";
  page.controls.push_back(image);
  g_script = [](UINT event, HWND page, WPARAM) {
    if (event == KX_EVENT_CREATED) {
      EXPECT_TRUE(GetWindowLongW(page, GWL_EXSTYLE) & WS_EX_LAYOUTRTL);
      EXPECT_TRUE(GetWindowLongW(kxcore::FindDialogControl(page, 5), GWL_EXSTYLE) & WS_EX_RTLREADING);
      EXPECT_TRUE(GetWindowLongW(kxcore::FindDialogControl(page, 1), GWL_EXSTYLE) & WS_EX_RTLREADING);
      // Back (at 90 units from the leading edge) stands right of Next (180).
      RECT back, next;
      GetWindowRect(kxcore::FindDialogControl(page, 3), &back);
      GetWindowRect(kxcore::FindDialogControl(page, 1), &next);
      EXPECT_GT(back.left, next.left);
      // Tabbing goes Back, Next, Cancel all the same.
      std::vector<int> order;
      for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        if (id >= 1 && id <= 3) order.push_back(id);
      }
      EXPECT_EQ(order, (std::vector<int>{3, 1, 2}));
      Click(page, 2);
      return 0;
    }
    if (event == KX_EVENT_COMMAND) {
      HWND picture = kxcore::FindDialogControl(page, 30);
      UpdateWindow(page);
      RECT box;
      GetWindowRect(picture, &box);
      HDC screen = GetDC(nullptr);
      const int eighth = (box.right - box.left) / 8;
      const COLORREF left = GetPixel(screen, box.left + eighth, (box.top + box.bottom) / 2);
      const COLORREF right = GetPixel(screen, box.right - eighth, (box.top + box.bottom) / 2);
      ReleaseDC(nullptr, screen);
      EXPECT_GT(GetRValue(left), 200) << std::hex << left;
      EXPECT_GT(GetBValue(right), 200) << std::hex << right;
      return 2;
    }
    return 0;
  };
  DWORD error = 0;
  EXPECT_EQ(kxcore::RunModalPage(page, RecordingHandler, &error), 2);
  EXPECT_EQ(error, 0u);
}

// A push button too narrow for its text (a long translation) grows toward
// its leading edge, and what stands before it on its row makes room: a
// button moves along, keeping its distance, an edit field gives up width.
// The button's trailing edge, and so the page's right margin, stays.
TEST_F(DialogEngineTest, ATooNarrowButtonGrowsAndItsNeighboursMakeRoom) {
  kxcore::LanguageTable table;
  table.texts[L"#next"] = L"&Weiter zum n\u00E4chsten Schritt >";
  kxcore::SetActiveLanguageTable(table);
  kxcore::DialogSpec page = Page();
  kxcore::ControlSpec browse;
  browse.kind = kxcore::ControlKind::kButton;
  browse.x = 215, browse.y = 100, browse.width = 60, browse.height = 23, browse.id = 22;
  browse.text = L"Durch&suchen und so weiter...";
  page.controls.push_back(browse);
  g_script = [](UINT event, HWND page, WPARAM) {
    if (event != KX_EVENT_CREATED) return 0;
    const UINT dpi = kxcore::WindowDpi(page);
    auto box = [&](int id) {
      RECT rect;
      GetWindowRect(kxcore::FindDialogControl(page, id), &rect);
      MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rect), 2);
      return rect;
    };
    auto textWidth = [&](int id) {
      HWND control = kxcore::FindDialogControl(page, id);
      HDC dc = GetDC(control);
      HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
      RECT needed = {};
      DrawTextW(dc, Text(control).c_str(), -1, &needed, DT_CALCRECT | DT_SINGLELINE);
      SelectObject(dc, old);
      ReleaseDC(control, dc);
      return needed.right;
    };
    const RECT next = box(1), back = box(3), cancel = box(2), edit = box(20), wide = box(22);
    EXPECT_EQ(next.right, kxcore::ScaleUnits(180 + 81, dpi));
    EXPECT_GE(next.right - next.left, textWidth(1) + 2 * kxcore::ScaleUnits(4, dpi));
    EXPECT_GT(next.right - next.left, kxcore::ScaleUnits(81, dpi) + 1);
    // Back moved along, as far from Next as the least gap; Cancel, after
    // Next, stayed.
    EXPECT_EQ(next.left - back.right, kxcore::ScaleUnits(6, dpi));
    EXPECT_EQ(back.right - back.left, kxcore::ScaleUnits(81, dpi));
    EXPECT_EQ(cancel.left, kxcore::ScaleUnits(270, dpi));
    // The edit field before the wide button gave up width, keeping its gap.
    EXPECT_GE(wide.right - wide.left, textWidth(22) + 2 * kxcore::ScaleUnits(4, dpi));
    EXPECT_EQ(wide.right, kxcore::ScaleUnits(275, dpi));
    EXPECT_EQ(edit.left, kxcore::ScaleUnits(10, dpi));
    EXPECT_EQ(wide.left - edit.right, kxcore::ScaleUnits(215, dpi) - kxcore::ScaleUnits(210, dpi));
    return 1;
  };
  DWORD error = 0;
  EXPECT_EQ(kxcore::RunModalPage(page, RecordingHandler, &error), 1);
}

TEST_F(DialogEngineTest, EachPageOpensWhereThePreviousOneWasLeft) {
  // The user moves the first page; a page closed before it was shown does
  // not count; the next page opens at the moved place.
  g_script = [](UINT event, HWND page, WPARAM) {
    if (event == KX_EVENT_CREATED) Click(page, 1);
    if (event != KX_EVENT_COMMAND) return 0;
    SetWindowPos(page, nullptr, 100, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return 1;
  };
  EXPECT_EQ(Run(), 1);
  g_script = [](UINT event, HWND, WPARAM) { return event == KX_EVENT_CREATED ? 2 : 0; };
  EXPECT_EQ(Run(), 2);
  static RECT where;
  g_script = [](UINT event, HWND page, WPARAM) {
    if (event == KX_EVENT_CREATED) Click(page, 3);
    if (event != KX_EVENT_COMMAND) return 0;
    GetWindowRect(page, &where);
    return 3;
  };
  EXPECT_EQ(Run(), 3);
  EXPECT_EQ(where.left, 100);
  EXPECT_EQ(where.top, 120);
}

TEST(DialogLayoutTest, BoxesScaleByTheirEdges) {
  RECT box = kxcore::ScaleBox(350, 360, 81, 25, 96);
  EXPECT_EQ(std::vector<LONG>({box.left, box.top, box.right, box.bottom}), std::vector<LONG>({350, 360, 431, 385}));
  box = kxcore::ScaleBox(-3, 345, 556, 2, 144);
  EXPECT_EQ(std::vector<LONG>({box.left, box.top, box.right, box.bottom}),
            std::vector<LONG>({-5, 518, 830, 521}));  // -4.5 and 829.5, rounded away from 0
  // Boxes that touch at 96 DPI touch at any DPI.
  for (UINT dpi : {96u, 120u, 144u, 168u, 192u}) {
    RECT header = kxcore::ScaleBox(0, 0, 550, 58, dpi);
    RECT rule = kxcore::ScaleBox(-3, 58, 556, 2, dpi);
    EXPECT_EQ(header.bottom, rule.top) << dpi;
    EXPECT_EQ(kxcore::ScaleBox(0, 0, 550, 400, dpi).right, kxcore::ScaleUnits(550, dpi));
  }
  EXPECT_EQ(kxcore::ScaleUnits(81, 192), 162);
}

TEST(DialogLayoutTest, FontsGrowWithTheDpi) {
  kxcore::DialogFonts small, large;
  small.Create(96);
  large.Create(192);
  LOGFONTW a, b;
  GetObjectW(small.Get(kxcore::FontRole::kNormal), sizeof a, &a);
  GetObjectW(large.Get(kxcore::FontRole::kNormal), sizeof b, &b);
  EXPECT_EQ(b.lfHeight, 2 * a.lfHeight);
  GetObjectW(small.Get(kxcore::FontRole::kHeading), sizeof b, &b);
  EXPECT_LT(b.lfHeight, a.lfHeight);  // heights are negative: the heading is larger
  EXPECT_EQ(b.lfWeight, FW_BOLD);
  EXPECT_GT(large.LineHeight(), small.LineHeight());
}

// ---- progress boxes ----

HWND WaitUntilGone(HWND window) {
  for (DWORD start = GetTickCount(); IsWindow(window) && GetTickCount() - start < 10000;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return IsWindow(window) ? window : nullptr;
}

TEST_F(DialogEngineTest, ProgressBoxRunsOnItsOwnThreadAndClosesOnTheCloseMessage) {
  g_script = [](UINT event, HWND box, WPARAM) {
    if (event == KX_EVENT_CREATED) SendMessageW(kxcore::FindDialogControl(box, 21), PBM_SETPOS, 30, 0);
    return 5;  // ignored: a progress box never ends by its handler
  };
  HWND box = nullptr;
  ASSERT_EQ(kxcore::OpenProgressBox(Page(), RecordingHandler, &box), 0u);
  ASSERT_EQ(g_events.size(), 1u);  // event 0 came before the call returned
  EXPECT_EQ(g_events[0].event, static_cast<UINT>(KX_EVENT_CREATED));
  EXPECT_NE(g_events[0].thread, GetCurrentThreadId());
  EXPECT_EQ(GetWindowThreadProcessId(box, nullptr), g_events[0].thread);
  EXPECT_TRUE(IsWindowVisible(box));

  // This thread pumps nothing; the box answers all the same, and a press
  // reaches the handler on the box's thread.
  DWORD_PTR position = 0;
  ASSERT_TRUE(SendMessageTimeoutW(kxcore::FindDialogControl(box, 21), PBM_GETPOS, 0, 0, SMTO_BLOCK, 5000, &position));
  EXPECT_EQ(position, 30u);
  DWORD_PTR ignored;
  SendMessageTimeoutW(kxcore::FindDialogControl(box, 2), BM_CLICK, 0, 0, SMTO_BLOCK, 5000, &ignored);
  ASSERT_EQ(g_events.size(), 2u);
  EXPECT_EQ(g_events[1].event, static_cast<UINT>(KX_EVENT_COMMAND));
  EXPECT_EQ(g_events[1].param, 2u);
  EXPECT_TRUE(IsWindow(box));

  PostMessageW(box, KX_WM_CLOSEPROGRESS, 0, 0);
  EXPECT_EQ(WaitUntilGone(box), nullptr);
  kxcore::JoinClosedProgressBoxes();
}

TEST_F(DialogEngineTest, ProgressBoxHandlerCanTalkToTheCallersWindowsAtEventZero) {
  // The caller waits for event 0; a handler that sends to a window of the
  // caller's thread meanwhile must not wait for ever.
  static HWND callerWindow;
  static LRESULT answer;
  callerWindow = CreateWindowExW(0, L"STATIC", L"caller", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(callerWindow, nullptr);
  g_script = [](UINT event, HWND, WPARAM) {
    DWORD_PTR length = 0;
    if (event == KX_EVENT_CREATED)
      answer = SendMessageTimeoutW(callerWindow, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, 10000, &length) ? length : -1;
    return 0;
  };
  HWND box = nullptr;
  ASSERT_EQ(kxcore::OpenProgressBox(Page(), RecordingHandler, &box), 0u);
  EXPECT_EQ(answer, 6);
  PostMessageW(box, KX_WM_CLOSEPROGRESS, 0, 0);
  EXPECT_EQ(WaitUntilGone(box), nullptr);
  kxcore::JoinClosedProgressBoxes();
  DestroyWindow(callerWindow);
}

TEST_F(DialogEngineTest, AProgressBoxClosedInsideItsOwnHandlerCallIsSafe) {
  // The close message arrives while the handler is still running (as when
  // the extraction ends while the cancel question is open).
  static bool windowLeft;
  windowLeft = true;
  g_script = [](UINT event, HWND box, WPARAM param) {
    if (event == KX_EVENT_COMMAND && param == 2) {
      SendMessageW(box, KX_WM_CLOSEPROGRESS, 0, 0);
      windowLeft = IsWindow(box) != FALSE;
    }
    return 0;
  };
  HWND box = nullptr;
  ASSERT_EQ(kxcore::OpenProgressBox(Page(), RecordingHandler, &box), 0u);
  PostMessageW(kxcore::FindDialogControl(box, 2), BM_CLICK, 0, 0);
  EXPECT_EQ(WaitUntilGone(box), nullptr);
  kxcore::JoinClosedProgressBoxes();
  EXPECT_EQ(g_events.size(), 2u);
  EXPECT_FALSE(windowLeft);
}

TEST(DialogLoadingTest, ProblemsNameTheFileTheLineOrTheDialog) {
  kxtest::ScratchFolder folder;
  kxcore::DialogSpec dialog;
  std::wstring problem;
  EXPECT_FALSE(kxcore::LoadDialogSpec(folder.path(), L"dlgwizwelc", &dialog, &problem));
  EXPECT_NE(problem.find(L"kxdlg.dat: cannot be read"), std::wstring::npos) << kxtest::Narrow(problem);

  ASSERT_TRUE(kxtest::WriteBytes(folder / L"kxdlg.dat", "[dlgwizwelc]\r\nN\r\n#KX.Dlg\r\n550\r\nfour hundred\r\n"));
  EXPECT_FALSE(kxcore::LoadDialogSpec(folder.path(), L"dlgwizwelc", &dialog, &problem));
  EXPECT_NE(problem.find(L"kxdlg.dat, line 5:"), std::wstring::npos) << kxtest::Narrow(problem);

  ASSERT_TRUE(kxtest::WriteBytes(folder / L"kxdlg.dat", "[dlgone]\r\nN\r\n#KX.Dlg\r\n50\r\n40\r\n\r\n#EndDlg\r\n"));
  EXPECT_FALSE(kxcore::LoadDialogSpec(folder.path(), L"dlgwizwelc", &dialog, &problem));
  EXPECT_NE(problem.find(L"\"dlgwizwelc\""), std::wstring::npos) << kxtest::Narrow(problem);
  EXPECT_TRUE(kxcore::LoadDialogSpec(folder.path(), L"DLGONE", &dialog, &problem));
  EXPECT_EQ(dialog.width, 50);
}

}  // namespace
