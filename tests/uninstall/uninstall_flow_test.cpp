// The uninstaller's flow against a test double of the core library: which
// questions are asked, which steps run, where the bar stands, what it returns.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "base/message_box.h"
#include "launcher/launcher_main.h"
#include "launcher/package_data.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"
#include "uninstall/uninstall_flow.h"

using namespace kxtest;

namespace {

struct ShownBox {
  std::wstring text;
  std::wstring caption;
  UINT style;
};

std::vector<ShownBox> g_boxes;
int g_answer = IDYES;

int RecordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT style) {
  g_boxes.push_back({text, caption, style});
  return g_answer;
}

class UninstallFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFake();
    // The package's values, as the launcher reads them from the shipped
    // uninstaller's runtime.
    ASSERT_EQ(LoadPackageData((TestDataPath("KX_TEST_RUNTIME_UNINST") + L"\\").c_str()), kPackageDataOk);
    g_boxes.clear();
    g_answer = IDYES;
    SetMessageBoxFunction(RecordBox);
    wcscpy(g_launcher.title, L"Quillmark Toolkit Setup (64-bit)");
    SetVar(L"APPTITLE", g_launcher.title);
    SetVar(L"ISADMIN", L"1");
    SetVar(L"SILENT", L"0");

    // A real window with a real progress bar stands in for the library's box.
    InitCommonControls();
    box = CreateWindowExW(0, L"STATIC", L"box", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr, nullptr, nullptr, nullptr);
    bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 0, 100, 10, box, reinterpret_cast<HMENU>(3), nullptr,
                          nullptr);
    cancel = CreateWindowExW(0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE, 0, 0, 80, 20, box,
                             reinterpret_cast<HMENU>(0), nullptr, nullptr);
    ASSERT_TRUE(box != nullptr) << GetLastError();
    ASSERT_TRUE(bar != nullptr) << GetLastError();
    Fake().showProgressBox = [this](KxDialogHandler handler) {
      handler(KX_EVENT_CREATED, box, 0, 0);
      return 0;
    };
  }
  void TearDown() override {
    SetMessageBoxFunction(nullptr);
    DestroyWindow(box);
  }

  int BarPosition() { return static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)); }

  HWND box, bar, cancel;
};

// Files, folders, the declarations' PATH entries, variables and file types,
// registry values, keys, the log.
const std::vector<int> kAllSteps = {0, 1, 5, 3, 2, 4};

}  // namespace

TEST_F(UninstallFlow, ConfirmedUninstallRunsEveryStepInOrderAndReports) {
  EXPECT_EQ(0, RunUninstall());
  EXPECT_EQ(kAllSteps, Fake().uninstallSteps);
  EXPECT_EQ(1, Fake().progressBoxesShown);
  EXPECT_FALSE(IsWindowVisible(cancel));
  EXPECT_EQ(100, BarPosition());
  ASSERT_EQ(2u, g_boxes.size());
  EXPECT_EQ(L"Do you really want to uninstall the \"Quillmark Toolkit Setup (64-bit)\" package?", g_boxes[0].text);
  EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), g_boxes[0].style);
  EXPECT_EQ(L"The changes made by the \"Quillmark Toolkit Setup (64-bit)\" package were successfully removed!",
            g_boxes[1].text);
  EXPECT_EQ(L"Quillmark Toolkit Setup (64-bit)", g_boxes[1].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), g_boxes[1].style);
}

TEST_F(UninstallFlow, AnythingButYesRemovesNothing) {
  // 0 is what a question that could not be shown (no display) answers.
  for (int answer : {IDNO, 0, IDCANCEL}) {
    g_answer = answer;
    EXPECT_EQ(2, RunUninstall()) << answer;
    EXPECT_TRUE(Fake().uninstallSteps.empty()) << answer;
    EXPECT_EQ(0, Fake().progressBoxesShown) << answer;
  }
}

TEST_F(UninstallFlow, OnlyExactlyOneCountsAsAdministrator) {
  for (const wchar_t* value : {L"0", L"1 ", L"yes", L""}) {
    for (const wchar_t* silent : {L"0", L"1"}) {
      g_boxes.clear();
      Fake().uninstallSteps.clear();
      SetVar(L"ISADMIN", value);
      SetVar(L"SILENT", silent);
      EXPECT_EQ(3, RunUninstall()) << value;
      EXPECT_TRUE(Fake().uninstallSteps.empty());
      ASSERT_EQ(1u, g_boxes.size());
      EXPECT_EQ(L"Sorry, only a user with administrative privileges may uninstall this package. Operation aborted.",
                g_boxes[0].text);
      EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), g_boxes[0].style);
    }
  }
}

TEST_F(UninstallFlow, AFailingStepStopsTheLaterOnes) {
  Fake().performUninstall = [](int step) { return step == 3 ? 5 : 0; };
  EXPECT_EQ(3, RunUninstall());
  EXPECT_EQ((std::vector<int>{0, 1, 5, 3}), Fake().uninstallSteps);
  EXPECT_EQ(80, BarPosition());
  EXPECT_EQ(1u, g_boxes.size()) << "no final message after a failure";
}

TEST_F(UninstallFlow, TheFirstStepFailingLeavesTheBarAtTheStart) {
  Fake().performUninstall = [](int step) { return step == 0 ? 1 : 0; };
  EXPECT_EQ(3, RunUninstall());
  EXPECT_EQ((std::vector<int>{0}), Fake().uninstallSteps);
  EXPECT_EQ(0, BarPosition());
}

TEST_F(UninstallFlow, SilentRunsAskNothingShowNothingAndReturnExitCode) {
  SetVar(L"SILENT", L"1");
  Fake().performUninstall = [](int step) {
    if (step == 4) SetVar(L"EXITCODE", L"42");
    return 0;
  };
  EXPECT_EQ(42, RunUninstall());
  EXPECT_EQ(kAllSteps, Fake().uninstallSteps);
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_EQ(0, Fake().progressBoxesShown);
  EXPECT_EQ(0, BarPosition());
}

TEST_F(UninstallFlow, ExitCodeIsReadAsAnUnsignedNumber) {
  SetVar(L"SILENT", L"1");
  Fake().performUninstall = [](int step) {
    if (step == 2) SetVar(L"EXITCODE", L"no digits");
    return 0;
  };
  EXPECT_EQ(0, RunUninstall());
}

TEST_F(UninstallFlow, InitUninstallDecliningSchedulesNothing) {
  Fake().initUninstall = 0;
  EXPECT_FALSE(PrepareUninstall());
  Fake().initUninstall = 2;
  EXPECT_FALSE(PrepareUninstall());
}

TEST_F(UninstallFlow, TheCoreLibraryLearnsThePackagesKeyBeforeItDecides) {
  Fake().initUninstall = 1;
  wcscpy(g_launcher.modulePath, L"C:\\Program Files\\Quillmark\\Uninst.exe");
  EXPECT_TRUE(PrepareUninstall());
  EXPECT_STREQ(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmark Toolkit812953",
               EvalVar(L"%KXUNINSTREGKEY%"));
  // A setup killed in the uninstaller's own folder is finished before the
  // log is read, whatever comes after.
  EXPECT_EQ(Fake().interruptedFolders, std::vector<std::wstring>{L"C:\\Program Files\\Quillmark"});
  g_launcher.modulePath[0] = L'\0';
}
