// The page handlers on a real window with the pages' controls, under the UI
// prefix; their message boxes are recorded instead of shown.
#include <gtest/gtest.h>
#include <wchar.h>

#include "core/kxcore.h"
#include "script/destination_space.h"
#include "script/page_handlers.h"
#include "script/script_state.h"
#include "tests/driver/ui_driver.h"
#include "tests/script/page_test_window.h"
#include "tests/script/script_test_support.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

namespace {

using kxtest::CallHandler;
using kxtest::Eval;
using kxtest::HandlerOutcome;
using kxtest::PageHandler;
using kxtest::TestPage;

// The temporary-files folder without its trailing backslash.
std::wstring TempFolder() {
  wchar_t path[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, path);
  while (length > 3 && path[length - 1] == L'\\') path[--length] = L'\0';
  return path;
}

const wchar_t kFolderWarning[] = L"You must specify a destination folder before continuing!";

class PageHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::ResetFake();
    g_pageCounter = 0;
    page_.Reset();
  }
  bool Enabled(int id) const { return IsWindowEnabled(page_.control(id)) != FALSE; }
  bool Visible(int id) const { return IsWindowVisible(page_.control(id)) != FALSE; }
  // The answers a handler gives to buttons that only close the page.
  void ExpectButtonResults(PageHandler handler) {
    EXPECT_EQ(CallHandler(handler, KX_EVENT_COMMAND, page_, kControlCancel).result, 2);
    EXPECT_EQ(CallHandler(handler, KX_EVENT_COMMAND, page_, kControlBack).result, 3);
    EXPECT_EQ(CallHandler(handler, KX_EVENT_COMMAND, page_, 99).result, 0);
    EXPECT_EQ(CallHandler(handler, KX_EVENT_IDLE, page_, kControlNext).result, 0);
  }
  void ExpectFolderWarning(const HandlerOutcome& outcome) {
    EXPECT_EQ(outcome.result, 0);
    ASSERT_EQ(outcome.boxes.size(), 1u);
    EXPECT_EQ(outcome.boxes[0].text, kFolderWarning);
    EXPECT_EQ(outcome.boxes[0].owner, page_.window());
    EXPECT_FALSE(outcome.boxes[0].hasCaption);
    EXPECT_EQ(outcome.boxes[0].style, static_cast<UINT>(MB_ICONERROR));
  }

  const TestPage& page_ = TestPage::Shared();
};

TEST_F(PageHandlerTest, WelcomeAndLicencePagesCloseWithTheirButtons) {
  for (PageHandler handler : {&WelcomePageHandler, &LicensePageHandler}) {
    EXPECT_EQ(CallHandler(handler, KX_EVENT_COMMAND, page_, kControlNext).result, 1);
    ExpectButtonResults(handler);
    // Enter outside a button does nothing on these pages.
    EXPECT_EQ(CallHandler(handler, KX_EVENT_ENTER, page_).result, 0);
  }
}

TEST_F(PageHandlerTest, BackIsDisabledOnlyWhileThePageCounterIsZero) {
  for (PageHandler handler : {&WelcomePageHandler, &LicensePageHandler, &DestinationPageHandler,
                              &StartMenuPageHandler, &FinalPageHandler}) {
    page_.Reset();
    g_pageCounter = 0;
    handler(KX_EVENT_CREATED, page_.window(), 0, 0);
    EXPECT_FALSE(Enabled(kControlBack));
    page_.Reset();
    g_pageCounter = 2;
    handler(KX_EVENT_CREATED, page_.window(), 0, 0);
    EXPECT_TRUE(Enabled(kControlBack));
  }
}

TEST_F(PageHandlerTest, LicenceAndFolderPagesFocusTheirField) {
  for (PageHandler handler : {&LicensePageHandler, &DestinationPageHandler, &StartMenuPageHandler}) {
    SetFocus(page_.control(kControlNext));
    handler(KX_EVENT_CREATED, page_.window(), 0, 0);
    EXPECT_EQ(GetFocus(), page_.control(kControlField));
  }
}

TEST_F(PageHandlerTest, KxdisabdirLocksTheDestinationFieldAndBrowse) {
  for (const wchar_t* value : {L"0", L"10", L""}) {
    SetVar(L"KXDISABDIR", value);
    DestinationPageHandler(KX_EVENT_CREATED, page_.window(), 0, 0);
    EXPECT_TRUE(Enabled(kControlField));
    EXPECT_TRUE(Enabled(kControlBrowse));
  }
  SetVar(L"KXDISABDIR", L"1");
  DestinationPageHandler(KX_EVENT_CREATED, page_.window(), 0, 0);
  EXPECT_FALSE(Enabled(kControlField));
  EXPECT_FALSE(Enabled(kControlBrowse));
  // Next still takes the locked field's text.
  page_.SetFieldText(L"D:\\Locked");
  EXPECT_EQ(CallHandler(DestinationPageHandler, KX_EVENT_COMMAND, page_, kControlNext).result, 1);
  EXPECT_EQ(Eval(L"%DLGSELPATH%"), L"D:\\Locked");
}

TEST_F(PageHandlerTest, DestinationSpaceLinesFollowTheFolderAsItChanges) {
  const std::wstring temp = TempFolder();
  SetVar(L"KXSPACENEEDED", L"12 KB");
  page_.SetFieldText(temp + L"\\kx-space-missing\\deeper");
  DestinationPageHandler(KX_EVENT_CREATED, page_.window(), 0, 0);
  EXPECT_EQ(kxdrive::WindowText(page_.control(kControlSpaceNeeded)), L"Space required: 12 KB");
  const std::wstring free = kxdrive::WindowText(page_.control(kControlSpaceFree));
  EXPECT_EQ(free.rfind(L"Space available: ", 0), 0u);
  EXPECT_GT(free.size(), wcslen(L"Space available: ")) << "a missing folder below an existing one has a drive";
  // Typed away to nothing a drive could be asked about, and back.
  for (const wchar_t* nowhere : {L"", L"relative\\folder", L"Q:\\no such drive"}) {
    page_.SetFieldText(nowhere);
    EXPECT_EQ(CallHandler(DestinationPageHandler, KX_EVENT_EDITED, page_, kControlField).result, 0);
    EXPECT_EQ(kxdrive::WindowText(page_.control(kControlSpaceFree)), L"Space available: ") << kxtest::Narrow(nowhere);
  }
  page_.SetFieldText(temp);
  CallHandler(DestinationPageHandler, KX_EVENT_EDITED, page_, kControlField);
  EXPECT_EQ(kxdrive::WindowText(page_.control(kControlSpaceFree)), free);
  EXPECT_EQ(kxdrive::WindowText(page_.control(kControlSpaceNeeded)), L"Space required: 12 KB");
}

TEST(DestinationSpace, TheNearestExistingFolderIsAskedForAMissingDestination) {
  wchar_t found[600];
  const std::wstring temp = TempFolder();
  struct Case {
    std::wstring folder;
    bool found;
    std::wstring expected;
  } cases[] = {
      {temp, true, temp + L"\\"},
      {temp + L"\\", true, temp + L"\\"},
      {temp + L"\\kx-missing\\a\\b", true, temp + L"\\"},
      {temp + L"/kx-missing/a", true, temp + L"\\"},
      // "C:" alone is the drive's current folder, which Next refuses too.
      {L"C:", false, L""},
      {L"C:\\", true, L"C:\\"},
      {L"C:\\kx-missing-at-the-root", true, L"C:\\"},
      {L"relative\\folder", false, L""},
      {L"", false, L""},
      {L"Q:\\no such drive", false, L""},
  };
  for (const Case& c : cases) {
    found[0] = L'\0';
    EXPECT_EQ(NearestExistingFolder(c.folder.c_str(), found, 600), c.found) << kxtest::Narrow(c.folder);
    if (c.found) {
      EXPECT_EQ(_wcsicmp(found, c.expected.c_str()), 0) << kxtest::Narrow(found);
    }
  }
  // A folder that leaves no room for the separator is refused, not cut.
  EXPECT_FALSE(NearestExistingFolder(temp.c_str(), found, temp.size() + 1));
}

TEST_F(PageHandlerTest, DestinationNextHandsTheFolderBack) {
  DestinationPageHandler(KX_EVENT_CREATED, page_.window(), 0, 0);
  page_.SetFieldText(L"C:\\Games\\Quill mark");
  HandlerOutcome next = CallHandler(DestinationPageHandler, KX_EVENT_COMMAND, page_, kControlNext);
  EXPECT_EQ(next.result, 1);
  EXPECT_TRUE(next.boxes.empty());
  EXPECT_EQ(Eval(L"%DLGSELPATH%"), L"C:\\Games\\Quill mark");

  // Enter in the field acts as Next.
  page_.SetFieldText(L"\\\\server\\share\\Quillmark");
  EXPECT_EQ(CallHandler(DestinationPageHandler, KX_EVENT_ENTER, page_).result, 1);
  EXPECT_EQ(Eval(L"%DLGSELPATH%"), L"\\\\server\\share\\Quillmark");
  ExpectButtonResults(DestinationPageHandler);
}

TEST_F(PageHandlerTest, DestinationRefusesAFolderThatIsNotAFullPath) {
  SetVar(L"DLGSELPATH", L"unchanged");
  for (const wchar_t* text : {L"", L"   ", L"Quillmark", L"C:Quillmark", L"\\Quillmark"}) {
    SCOPED_TRACE(kxtest::Narrow(text));
    page_.SetFieldText(text);
    ExpectFolderWarning(CallHandler(DestinationPageHandler, KX_EVENT_COMMAND, page_, kControlNext));
  }
  page_.SetFieldText(L"");
  ExpectFolderWarning(CallHandler(DestinationPageHandler, KX_EVENT_ENTER, page_));
  EXPECT_EQ(Eval(L"%DLGSELPATH%"), L"unchanged");
}

TEST_F(PageHandlerTest, StartMenuPageShowsTheFolderBelowTheRootAndJoinsItToTheRoot) {
  SetVar(L"KXSHORTCUTROOT", L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
  page_.SetFieldText(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quillmark");
  StartMenuPageHandler(KX_EVENT_CREATED, page_.window(), 0, 0);
  EXPECT_EQ(page_.FieldText(), L"Quillmark");

  // A nested folder keeps every level, so that Next gives back the folder
  // the page received, as a silent run keeps it.
  const wchar_t nested[] = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Nordlys\\Fj\u00F8rd";
  page_.SetFieldText(nested);
  StartMenuPageHandler(KX_EVENT_CREATED, page_.window(), 0, 0);
  EXPECT_EQ(page_.FieldText(), L"Nordlys\\Fj\u00F8rd");
  EXPECT_EQ(CallHandler(StartMenuPageHandler, KX_EVENT_COMMAND, page_, kControlNext).result, 1);
  EXPECT_EQ(Eval(L"%DLGSELPATH%"), nested);
  // The root matched in another letter case; a folder outside the root
  // gives its name.
  page_.SetFieldText(L"c:\\programdata\\microsoft\\windows\\start menu\\programs\\A\\B");
  StartMenuPageHandler(KX_EVENT_CREATED, page_.window(), 0, 0);
  EXPECT_EQ(page_.FieldText(), L"A\\B");
  page_.SetFieldText(L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\ProgramsX\\B");
  StartMenuPageHandler(KX_EVENT_CREATED, page_.window(), 0, 0);
  EXPECT_EQ(page_.FieldText(), L"B");
  // Typed with '/', stored with '\\'.
  page_.SetFieldText(L"Tide/Charts");
  EXPECT_EQ(CallHandler(StartMenuPageHandler, KX_EVENT_COMMAND, page_, kControlNext).result, 1);
  EXPECT_EQ(Eval(L"%DLGSELPATH%"), L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Tide\\Charts");

  page_.SetFieldText(L"Tools\\Quillmark");
  EXPECT_EQ(CallHandler(StartMenuPageHandler, KX_EVENT_COMMAND, page_, kControlNext).result, 1);
  EXPECT_EQ(Eval(L"%DLGSELPATH%"), L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Tools\\Quillmark");

  page_.SetFieldText(L"Quillmark");
  EXPECT_EQ(CallHandler(StartMenuPageHandler, KX_EVENT_ENTER, page_).result, 1);
  EXPECT_EQ(Eval(L"%DLGSELPATH%"), L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quillmark");
  ExpectButtonResults(StartMenuPageHandler);
}

TEST_F(PageHandlerTest, StartMenuPageRefusesAnEmptyNameAndAFolderOutsideTheRoot) {
  SetVar(L"KXSHORTCUTROOT", L"C:\\Root");
  SetVar(L"DLGSELPATH", L"unchanged");
  for (const wchar_t* text : {L"", L"  \t", L"..\\..\\x", L"a\\..\\..", L"\\x", L"C:\\x", L"a\\\\b",
                              L"a:b", L"x\\CON", L"trailing.", L"%WINDIR%", L"a*b"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
    page_.SetFieldText(text);
    ExpectFolderWarning(CallHandler(StartMenuPageHandler, KX_EVENT_COMMAND, page_, kControlNext));
  }
  page_.SetFieldText(L"");
  ExpectFolderWarning(CallHandler(StartMenuPageHandler, KX_EVENT_ENTER, page_));
  EXPECT_EQ(Eval(L"%DLGSELPATH%"), L"unchanged");
}

TEST_F(PageHandlerTest, FinalPageHidesCancelAndUnrequestedTasks) {
  FinalPageHandler(KX_EVENT_CREATED, page_.window(), 0, 0);
  EXPECT_FALSE(Visible(kControlTask1));
  EXPECT_FALSE(Visible(kControlTask2));
  EXPECT_FALSE(Visible(kControlCancel));
  EXPECT_FALSE(Enabled(kControlBack));
  EXPECT_TRUE(Visible(kControlNext));

  EXPECT_EQ(CallHandler(FinalPageHandler, KX_EVENT_COMMAND, page_, kControlNext).result, 1);
  EXPECT_EQ(Eval(L"%KXRUNTASK1S%"), L"0");
  EXPECT_EQ(Eval(L"%KXRUNTASK2S%"), L"0");
  EXPECT_EQ(CallHandler(FinalPageHandler, KX_EVENT_COMMAND, page_, kControlBack).result, 3);
  EXPECT_EQ(CallHandler(FinalPageHandler, KX_EVENT_COMMAND, page_, 99).result, 0);
  EXPECT_EQ(CallHandler(FinalPageHandler, KX_EVENT_ENTER, page_).result, 0);
}

TEST_F(PageHandlerTest, FinalPageShowsAndReturnsTheTaskBoxes) {
  SetVar(L"KXRUNTASK1V", L"1");
  SetVar(L"KXRUNTASK2V", L"1");
  SetVar(L"KXRUNTASK1S", L"1");
  SetVar(L"KXRUNTASK2S", L"11");
  FinalPageHandler(KX_EVENT_CREATED, page_.window(), 0, 0);
  EXPECT_TRUE(Visible(kControlTask1));
  EXPECT_TRUE(Visible(kControlTask2));
  EXPECT_TRUE(kxdrive::IsChecked(page_.control(kControlTask1)));
  EXPECT_FALSE(kxdrive::IsChecked(page_.control(kControlTask2)));

  SendMessageW(page_.control(kControlTask1), BM_SETCHECK, BST_UNCHECKED, 0);
  SendMessageW(page_.control(kControlTask2), BM_SETCHECK, BST_CHECKED, 0);
  // Cancel is hidden, but should it be pressed it closes like Close.
  EXPECT_EQ(CallHandler(FinalPageHandler, KX_EVENT_COMMAND, page_, kControlCancel).result, 1);
  EXPECT_EQ(Eval(L"%KXRUNTASK1S%"), L"0");
  EXPECT_EQ(Eval(L"%KXRUNTASK2S%"), L"1");
}

}  // namespace
