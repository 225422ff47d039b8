// The uninstaller's script guard: a crash inside the flow is reported and
// becomes the exit code, and the runtime folder still goes.
#include <gtest/gtest.h>

#include "tests/driver/ui_driver.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_files.h"

using namespace kxtest;

TEST(UninstallerGuard, ACrashInTheFlowIsReportedAndEndsWithItsCode) {
  constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
  ScratchFolder work;
  std::wstring temp = work / L"temp";
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  std::wstring program = work / L"Uninst.exe";
  ASSERT_TRUE(CopyFileW((TestDataPath("KX_TEST_PACKAGES") + L"\\crashing_uninst.exe").c_str(), program.c_str(), FALSE));

  // What earlier tests of the prefix left to be done at its next start is
  // not this test's to judge.
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
  LaunchOptions options;
  options.environment = {{L"TMP", temp}, {L"TEMP", temp}};
  ChildProcess child;
  ASSERT_TRUE(child.Start(program, options));
  HWND box = kxdrive::WaitForMessageBox(child.id(), child.handle());
  ASSERT_TRUE(box != nullptr);
  EXPECT_EQ(L"Unexpected error in script: code c0000005.\nUninstaller execution aborted.", kxdrive::MessageBoxText(box));
  EXPECT_EQ(L"Quillmark Toolkit Setup (64-bit)", kxdrive::WindowText(box));
  kxdrive::AnswerMessageBox(box, IDOK);
  EXPECT_EQ(0xC0000005u, child.Wait(60000));
  EXPECT_TRUE(ListFolder(temp).empty()) << "runtime folder left behind";
  // The crash came before the last step, so the uninstaller is not
  // scheduled for deletion: it can be run again.
  EXPECT_NE(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations",
                                        RRF_RT_ANY, nullptr, nullptr, nullptr));
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations");
}
