// The real Uninst.exe in the prefix without a display: its question cannot
// be shown (the box answers 0 at once), and that is no consent.
#include <gtest/gtest.h>

#include "core/kxcore.h"
#include "core/uninstall_log.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPending[] = L"PendingFileRenameOperations";

bool AnythingPending() {
  return RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

}  // namespace

TEST(UninstallerWithoutDisplay, TheUnshownQuestionRemovesAndSchedulesNothing) {
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
  ScratchFolder work;
  const std::wstring temp = work / L"temp";
  const std::wstring install = work / L"Quill";
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(install.c_str(), nullptr));
  const std::wstring program = install + L"\\Uninst.exe";
  ASSERT_TRUE(CopyFileW((TestDataPath("KX_TEST_OUT") + L"\\Uninst.exe").c_str(), program.c_str(), FALSE));
  ASSERT_TRUE(WriteBytes(install + L"\\app.txt", "app"));
  const std::vector<kxcore::UninstallRecord> records = {{KX_LOG_FOLDER, install},
                                                        {KX_LOG_FILE, install + L"\\app.txt"},
                                                        {KX_LOG_FILE, program},
                                                        {KX_LOG_FILE, install + L"\\Uninst.dat"}};
  ASSERT_TRUE(WriteBytes(install + L"\\Uninst.dat", kxcore::FormatUninstallLog(records)));

  LaunchOptions options;
  options.environment = {{L"TMP", temp}, {L"TEMP", temp}};
  EXPECT_EQ(2u, RunToExit(program, options));
  EXPECT_TRUE(FileExists(install + L"\\app.txt"));
  EXPECT_TRUE(FileExists(install + L"\\Uninst.dat"));
  EXPECT_FALSE(AnythingPending()) << "a declined uninstall schedules nothing";
  EXPECT_TRUE(ListFolder(temp).empty());
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
}
