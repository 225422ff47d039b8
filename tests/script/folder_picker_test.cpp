// The shell folder picker as the folder pages use it, driven under the UI
// prefix, and the path tests behind the pages.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "core/kxcore.h"
#include "script/folder_picker.h"
#include "script/page_handlers.h"
#include "script/script_state.h"
#include "tests/driver/ui_driver.h"
#include "tests/script/page_test_window.h"
#include "tests/script/script_test_support.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

namespace {

using kxtest::TestPage;

TEST(PathLastComponentTest, TakesThePartAfterTheLastSeparator) {
  struct Case {
    const wchar_t* path;
    const wchar_t* last;
  };
  const Case cases[] = {
      {L"C:\\ProgramData\\Start Menu\\Programs\\Quillmark", L"Quillmark"},
      {L"C:\\", L""},
      {L"Tools\\Quillmark", L"Quillmark"},
      {L"a/b/c", L"c"},
      {L"a\\b/c", L"b/c"},  // a backslash wins over a later slash
      {L"C:Quillmark", L"Quillmark"},
      {L"C:a/b", L"b"},
      {L"Quillmark", L"Quillmark"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    const wchar_t* last = PathLastComponent(c.path);
    EXPECT_STREQ(last, c.last) << kxtest::Narrow(c.path);
    EXPECT_TRUE(last >= c.path && last <= c.path + wcslen(c.path));
  }
}

TEST(IsFullPathTest, AcceptsDrivePathsAndUncPathsOnly) {
  for (const wchar_t* path : {L"C:\\", L"c:\\Program Files", L"D:/Games", L"\\\\server\\share"})
    EXPECT_TRUE(IsFullPath(path)) << kxtest::Narrow(path);
  for (const wchar_t* path : {L"", L"   ", L"C:", L"C:Games", L"\\Games", L"Games", L"\\\\", L"1:\\x", L" C:\\x"})
    EXPECT_FALSE(IsFullPath(path)) << kxtest::Narrow(path);
}

// Records the messages a window receives, to see what the callback sends.
struct SentMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<SentMessage> g_received;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER) g_received.push_back({message, wParam, lParam});
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST(BrowseInitCallbackTest, SelectsTheInitialFolderOnceThePickerIsReady) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = RecordingProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"KxRecordingWindow";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"KxRecordingWindow", L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  const wchar_t path[] = L"C:\\windows";

  g_received.clear();
  EXPECT_EQ(BrowseInitCallback(window, BFFM_SELCHANGED, 0, reinterpret_cast<LPARAM>(path)), 0);
  EXPECT_EQ(BrowseInitCallback(window, BFFM_INITIALIZED, 0, 0), 0);
  EXPECT_TRUE(g_received.empty());

  EXPECT_EQ(BrowseInitCallback(window, BFFM_INITIALIZED, 0, reinterpret_cast<LPARAM>(path)), 0);
  ASSERT_EQ(g_received.size(), 1u);
  EXPECT_EQ(g_received[0].message, 0x467u);
  EXPECT_EQ(g_received[0].wParam, static_cast<WPARAM>(TRUE));
  EXPECT_EQ(g_received[0].lParam, reinterpret_cast<LPARAM>(path));
  DestroyWindow(window);
}

// The shell's picker opened by a handler on this thread: a dialog owned by
// the page that is not a message box.
std::function<bool(HWND)> PickerOf(HWND page) {
  return [page](HWND window) {
    return kxdrive::ClassName(window) == L"#32770" && !kxdrive::IsMessageBox(window) &&
           GetWindow(window, GW_OWNER) == page;
  };
}

// Answers the picker with OK (IDOK) or Cancel (IDCANCEL).
class PickerAnswerer : public kxtest::WindowWatcher {
 public:
  PickerAnswerer(HWND page, int button)
      : WindowWatcher(PickerOf(page), [button](HWND picker) { kxdrive::Press(picker, button); }) {}
};

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), towlower);
  return text;
}

class FolderPickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::ResetFake();
    g_pageCounter = 1;
    page_.Reset();
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    windows_ = windows;
  }
  kxtest::ComScope com_;
  const TestPage& page_ = TestPage::Shared();
  std::wstring windows_;
};

TEST_F(FolderPickerTest, OkReturnsTheInitialFolderAndCancelNothing) {
  wchar_t result[kPickerPathCapacity] = L"old";
  {
    PickerAnswerer answerer(page_.window(), IDOK);
    EXPECT_NE(BrowseForFolder(page_.window(), L"Pick one", windows_.c_str(), result), 0);
    EXPECT_TRUE(answerer.Finish());
  }
  EXPECT_EQ(Lower(result), Lower(windows_));

  {
    PickerAnswerer answerer(page_.window(), IDCANCEL);
    EXPECT_EQ(BrowseForFolder(page_.window(), L"Pick one", windows_.c_str(), result), 0);
    EXPECT_TRUE(answerer.Finish());
  }
  EXPECT_STREQ(result, L"");
}

TEST_F(FolderPickerTest, DestinationBrowsePutsTheChosenFolderIntoTheField) {
  page_.SetFieldText(windows_);
  {
    PickerAnswerer answerer(page_.window(), IDOK);
    EXPECT_EQ(DestinationPageHandler(KX_EVENT_COMMAND, page_.window(), kControlBrowse, 0), 0);
    EXPECT_TRUE(answerer.Finish());
  }
  EXPECT_EQ(Lower(page_.FieldText()), Lower(windows_));

  // A cancelled picker leaves the field alone.
  page_.SetFieldText(L"C:\\Typed\\Folder");
  {
    PickerAnswerer answerer(page_.window(), IDCANCEL);
    EXPECT_EQ(DestinationPageHandler(KX_EVENT_COMMAND, page_.window(), kControlBrowse, 0), 0);
    EXPECT_TRUE(answerer.Finish());
  }
  EXPECT_EQ(page_.FieldText(), L"C:\\Typed\\Folder");
}

TEST_F(FolderPickerTest, StartMenuBrowseKeepsOnlyTheChosenFoldersName) {
  std::wstring system32 = windows_ + L"\\system32";
  SetVar(L"KXSHORTCUTROOT", system32.c_str());
  page_.SetFieldText(L"Quillmark");
  {
    PickerAnswerer answerer(page_.window(), IDOK);
    EXPECT_EQ(StartMenuPageHandler(KX_EVENT_COMMAND, page_.window(), kControlBrowse, 0), 0);
    EXPECT_TRUE(answerer.Finish());
  }
  EXPECT_EQ(Lower(page_.FieldText()), L"system32");

  // A drive root has no name: the field becomes empty and Next warns.
  SetVar(L"KXSHORTCUTROOT", L"C:\\");
  {
    PickerAnswerer answerer(page_.window(), IDOK);
    StartMenuPageHandler(KX_EVENT_COMMAND, page_.window(), kControlBrowse, 0);
    EXPECT_TRUE(answerer.Finish());
  }
  EXPECT_EQ(page_.FieldText(), L"");
  kxtest::HandlerOutcome next = kxtest::CallHandler(StartMenuPageHandler, KX_EVENT_COMMAND, page_, kControlNext);
  EXPECT_EQ(next.result, 0);
  EXPECT_EQ(next.boxes.size(), 1u);
}

}  // namespace
