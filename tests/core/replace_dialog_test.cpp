// The replace question's dialog, driven on the UI display: texts, and what
// each button (and closing the dialog) answers.
#include <gtest/gtest.h>

#include <thread>

#include "core/file_decision.h"
#include "tests/driver/ui_driver.h"
#include "tests/support/fake_core.h"

using namespace kxcore;

namespace {

bool IsReplaceDialog(HWND window) { return kxdrive::WindowText(window) == L"Confirm File Replace"; }

// Shows the question on this thread while another thread acts on the dialog
// as the user would.
ReplaceAnswer AskAndAct(const wchar_t* path, const std::function<void(HWND)>& act) {
  std::thread user([&] {
    HWND dialog = kxdrive::WaitForWindow(GetCurrentProcessId(), nullptr, IsReplaceDialog);
    if (dialog) act(dialog);
  });
  ReplaceAnswer answer = AskReplaceFile(path);
  user.join();
  return answer;
}

TEST(ReplaceDialog, ShowsThePathAndTheFourAnswers) {
  kxtest::ResetFake();
  const wchar_t* path = L"C:\\Program Files\\Quillmark\\100% #next.txt";
  std::wstring prompt, shownPath, label;
  std::vector<std::wstring> buttons;
  ReplaceAnswer answer = AskAndAct(path, [&](HWND dialog) {
    prompt = kxdrive::WindowText(kxdrive::Control(dialog, kReplacePromptText));
    shownPath = kxdrive::WindowText(kxdrive::Control(dialog, kReplacePathText));
    label = kxdrive::WindowText(kxdrive::Control(dialog, kReplaceAllLabel));
    for (int id : {kReplaceButton, kSkipButton, kReplaceAllButton, kSkipAllButton})
      buttons.push_back(kxdrive::WindowText(kxdrive::Control(dialog, id)));
    kxdrive::Press(dialog, kSkipButton);
  });
  EXPECT_EQ(ReplaceAnswer::Skip, answer);
  EXPECT_EQ(L"The destination folder already contains the file \"100% #next.txt\". Do you want to replace the existing "
            L"file?",
            prompt);
  EXPECT_EQ(path, shownPath);  // shown as it is, not evaluated
  EXPECT_EQ(L"&Do this for all remaining conflicts", label);
  EXPECT_EQ((std::vector<std::wstring>{L"&Replace", L"&Skip", L"Replace &All", L"Skip A&ll"}), buttons);
}

TEST(ReplaceDialog, EachButtonGivesItsAnswerAndClosingSkips) {
  kxtest::ResetFake();
  const std::pair<int, ReplaceAnswer> kButtons[] = {{kReplaceButton, ReplaceAnswer::Replace},
                                                    {kSkipButton, ReplaceAnswer::Skip},
                                                    {kReplaceAllButton, ReplaceAnswer::ReplaceAll},
                                                    {kSkipAllButton, ReplaceAnswer::SkipAll}};
  for (const auto& [id, expected] : kButtons)
    EXPECT_EQ(expected, AskAndAct(L"C:\\x.txt", [id = id](HWND dialog) { kxdrive::Press(dialog, id); })) << id;
  EXPECT_EQ(ReplaceAnswer::Skip,
            AskAndAct(L"C:\\x.txt", [](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); }));
}

}  // namespace
