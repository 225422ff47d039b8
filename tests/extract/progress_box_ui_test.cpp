// The progress box of the real core library during an extraction, driven on
// the UI display: the label, Cancel with its question, KXEXTHC, silent mode.
// The pass is held inside the per-file hook while the "user" acts, so that
// nothing depends on timing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "extract/engine_state.h"
#include "extract/extraction.h"
#include "launcher/core_binding.h"
#include "launcher/launcher_main.h"
#include "tests/driver/ui_driver.h"
#include "tests/extract/extract_result_printer.h"
#include "tests/support/seven_zip_writer.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

constexpr DWORD kDeadlineMs = 20000;

std::atomic<HWND> g_box{nullptr};

int WatchingHandler(UINT event, HWND box, WPARAM item, LPARAM extra) {
  if (event == KX_EVENT_CREATED) g_box = box;
  return ProgressBoxHandler(event, box, item, extra);
}

// The hook holds the pass at its first file until the user is done.
struct Rendezvous {
  HANDLE atFirstFile = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE userDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ~Rendezvous() {
    CloseHandle(atFirstFile);
    CloseHandle(userDone);
  }
};
Rendezvous* g_rendezvous = nullptr;
int g_filesAccepted = 0;

ExtractHookAnswer HoldingHook(wchar_t*, uint64_t, const uint32_t*, const uint32_t*) {
  if (g_filesAccepted++ == 0) {
    SetEvent(g_rendezvous->atFirstFile);
    WaitForSingleObject(g_rendezvous->userDone, kDeadlineMs);
  }
  return kHookWrite;
}

bool WaitUntilGone(HWND window) {
  const DWORD start = GetTickCount();
  while (IsWindow(window) && IsWindowVisible(window)) {
    if (GetTickCount() - start > kDeadlineMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  return true;
}

class ProgressBoxUiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetCoreLibraryFolder((TestDataPath("KX_TEST_RUNTIME") + L"\\").c_str());
    wcscpy(g_launcher.title, L"Progress Test");
  }

  void SetUp() override {
    // The box comes from the core library; without it there is nothing to drive.
    g_box = nullptr;
    if (ShowProgressBox(WatchingHandler) != 0 || !g_box) GTEST_SKIP() << "the core library shows no progress box";
    PostMessageW(g_box, KX_WM_CLOSEPROGRESS, 0, 0);
    ASSERT_TRUE(WaitUntilGone(g_box));
    g_box = nullptr;

    SetVar(L"SILENT", L"0");
    SetVar(L"KXEXTTEXT", L"#Extracting");
    SetVar(L"KXEXTHC", L"0");
    g_filesAccepted = 0;
    package_ = scratch_ / L"package.7z";
    ASSERT_TRUE(WriteBytes(package_, BuildSevenZip({ArchiveItem::File(L"first.txt", "1"),
                                                    ArchiveItem::File(L"second.txt", "2"),
                                                    ArchiveItem::File(L"third.txt", "3")})));
    dest_ = scratch_ / L"dest";
  }

  // Runs the extraction on this thread while user() acts on another; any
  // message box the user did not expect is answered and reported.
  ExtractResult ExtractWhile(unsigned char silent, const std::function<void()>& user) {
    Rendezvous rendezvous;
    g_rendezvous = &rendezvous;
    std::atomic<bool> returned{false};
    std::thread other([&] {
      if (WaitForSingleObject(rendezvous.atFirstFile, kDeadlineMs) == WAIT_OBJECT_0) user();
      SetEvent(rendezvous.userDone);
      while (!returned) {
        HWND box = kxdrive::WaitForMessageBox(GetCurrentProcessId(), nullptr, 200);
        if (box) {
          unexpected_.push_back(kxdrive::MessageBoxText(box));
          kxdrive::AnswerMessageBox(box, IDOK);
        }
      }
    });
    ExtractResult result =
        ExtractArchive(package_.c_str(), dest_.c_str(), nullptr, silent, WatchingHandler, HoldingHook);
    returned = true;
    other.join();
    g_rendezvous = nullptr;
    return result;
  }

  HWND Box() const { return g_box; }

  ScratchFolder scratch_;
  std::wstring package_, dest_;
  std::vector<std::wstring> unexpected_;
};

// Presses Cancel and answers the question; returns its text.
std::wstring CancelAndAnswer(HWND box, int answer) {
  if (!kxdrive::Press(box, 2)) return L"(no Cancel button)";
  HWND question = kxdrive::WaitForMessageBox(GetCurrentProcessId(), nullptr);
  if (!question) return L"(no question)";
  std::wstring text = kxdrive::MessageBoxText(question);
  kxdrive::AnswerMessageBox(question, answer);
  WaitUntilGone(question);
  return text;
}

TEST_F(ProgressBoxUiTest, ShowsTheEntryAndNoOnTheQuestionChangesNothing) {
  std::wstring label, question;
  bool nextEnabled = true, backEnabled = true, cancelVisible = false;
  ExtractResult result = ExtractWhile(0, [&] {
    HWND box = Box();
    label = kxdrive::WindowText(kxdrive::Control(box, 21));
    nextEnabled = kxdrive::IsEnabled(kxdrive::Control(box, 1));
    backEnabled = kxdrive::IsEnabled(kxdrive::Control(box, 3));
    cancelVisible = kxdrive::IsVisible(kxdrive::Control(box, 2));
    question = CancelAndAnswer(box, IDNO);
  });
  EXPECT_EQ(kExtractDone, result);
  EXPECT_FALSE(g_extractCancelled);
  EXPECT_EQ(L"Extracting first.txt...", label);
  EXPECT_FALSE(nextEnabled);
  EXPECT_FALSE(backEnabled);
  EXPECT_TRUE(cancelVisible);
  EXPECT_EQ(L"Do you really want to abort the extraction process?", question);
  EXPECT_EQ(3u, ListFolder(dest_).size());
  EXPECT_TRUE(unexpected_.empty());
  EXPECT_TRUE(WaitUntilGone(Box()));
}

TEST_F(ProgressBoxUiTest, YesStopsBeforeTheNextEntryWithoutAMessage) {
  ExtractResult result = ExtractWhile(0, [&] {
    CancelAndAnswer(Box(), IDYES);
    // The box's thread sets the flag once its question has returned; hold
    // the pass until then, so that it meets the flag right after this file.
    const DWORD start = GetTickCount();
    while (!g_extractCancelled && GetTickCount() - start < kDeadlineMs)
      WaitForSingleObject(GetCurrentProcess(), 10);
  });
  EXPECT_EQ(kExtractCancelled, result);
  EXPECT_TRUE(g_extractCancelled);
  EXPECT_EQ(1, g_filesAccepted);
  EXPECT_TRUE(ListFolder(dest_).empty());
  EXPECT_TRUE(unexpected_.empty());
  EXPECT_TRUE(WaitUntilGone(Box()));
}

TEST_F(ProgressBoxUiTest, CancelIsHiddenOnlyWhenKxexthcIsOne) {
  for (const wchar_t* value : {L"1", L"10"}) {
    SetVar(L"KXEXTHC", value);
    g_filesAccepted = 0;
    bool cancelVisible = true;
    EXPECT_EQ(kExtractDone,
              ExtractWhile(0, [&] { cancelVisible = kxdrive::IsVisible(kxdrive::Control(Box(), 2)); }));
    EXPECT_EQ(wcscmp(value, L"1") != 0, cancelVisible) << Narrow(value);
    EXPECT_TRUE(WaitUntilGone(Box()));
  }
}

TEST_F(ProgressBoxUiTest, SilentModeShowsNoWindow) {
  size_t windows = 99;
  EXPECT_EQ(kExtractDone, ExtractWhile(1, [&] { windows = kxdrive::TopWindows(GetCurrentProcessId()).size(); }));
  EXPECT_EQ(0u, windows);
  EXPECT_EQ(nullptr, Box());
  EXPECT_EQ(3u, ListFolder(dest_).size());
}

}  // namespace
