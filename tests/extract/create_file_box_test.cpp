// The create-file box as the user meets it: a real message box on the UI
// display, answered through the test driver.
#include <gmock/gmock.h>

#include <thread>

#include "tests/driver/ui_driver.h"
#include "tests/extract/extract_fixture.h"

using namespace kxtest;

namespace {

struct Answered {
  std::wstring text;
  std::wstring caption;
};

// Answers the next message boxes of this process in order; records their texts.
class User {
 public:
  explicit User(std::vector<int> answers, std::function<void(size_t)> before = nullptr)
      : thread_([this, answers, before] {
          HWND previous = nullptr;
          for (size_t i = 0; i < answers.size(); ++i) {
            // The box just answered may still be on screen for a moment.
            HWND box = kxdrive::WaitForWindow(GetCurrentProcessId(), nullptr, [previous](HWND window) {
              return window != previous && kxdrive::IsMessageBox(window);
            });
            if (!box) return;
            seen.push_back({kxdrive::MessageBoxText(box), kxdrive::WindowText(box)});
            if (before) before(i);
            kxdrive::AnswerMessageBox(box, answers[i]);
            previous = box;
          }
        }) {}
  ~User() { thread_.join(); }
  std::vector<Answered> seen;

 private:
  std::thread thread_;
};

class CreateFileBoxTest : public ExtractTest {
 protected:
  void SetUp() override {
    ExtractTest::SetUp();
    g_extractMessageBox = nullptr;  // the real MessageBoxW
    dest_ = Destination();
    ASSERT_TRUE(CreateDirectoryW(dest_.c_str(), nullptr));
    target_ = dest_ + L"\\locked.txt";
    ASSERT_TRUE(WriteBytes(target_, "old"));
    // Held open without write sharing, as by a running program. (Under Wine
    // run as root a read-only attribute does not stop the open.)
    holder_ = CreateFileW(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder_);
    package_ = WritePackage({ArchiveItem::File(L"locked.txt", "new"), ArchiveItem::File(L"after.txt", "a")});
  }
  void TearDown() override {
    if (holder_ != INVALID_HANDLE_VALUE) CloseHandle(holder_);
    ExtractTest::TearDown();
  }

  std::wstring dest_, target_, package_;
  HANDLE holder_ = INVALID_HANDLE_VALUE;
};

TEST_F(CreateFileBoxTest, ContinueSkipsTheFileAndGoesOn) {
  ExtractResult result;
  std::vector<Answered> seen;
  {
    User user({IDCONTINUE});
    result = Extract(package_, dest_);
    seen = user.seen;
  }
  EXPECT_EQ(kExtractDone, result);
  EXPECT_EQ("old", ReadBytes(target_));
  EXPECT_EQ("a", ReadBytes(dest_ + L"\\after.txt"));
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(L"Cannot open file for writing: " + target_, seen[0].text);
  EXPECT_EQ(L"Extraction Test", seen[0].caption);
}

TEST_F(CreateFileBoxTest, CancelStopsWithTheArchiveError) {
  ExtractResult result;
  std::vector<Answered> seen;
  {
    User user({IDCANCEL, IDOK});
    result = Extract(package_, dest_);
    seen = user.seen;
  }
  EXPECT_EQ(kExtractFailed, result);
  EXPECT_EQ("old", ReadBytes(target_));
  EXPECT_FALSE(FileExists(dest_ + L"\\after.txt"));
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ(L"Error while unpacking archive", seen[1].text);
}

TEST_F(CreateFileBoxTest, TryAgainOpensAgainOnceTheFileIsFree) {
  ExtractResult result;
  std::vector<Answered> seen;
  {
    User user({IDTRYAGAIN, IDTRYAGAIN}, [&](size_t i) {
      if (i == 1) {
        CloseHandle(holder_);
        holder_ = INVALID_HANDLE_VALUE;
      }
    });
    result = Extract(package_, dest_);
    seen = user.seen;
  }
  EXPECT_EQ(kExtractDone, result);
  EXPECT_EQ("new", ReadBytes(target_));
  EXPECT_EQ(2u, seen.size());
}

}  // namespace
