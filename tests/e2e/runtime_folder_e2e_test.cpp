// The runtime folder in %TEMP% against what happens around a run: a killed
// setup, another setup still running, and folders that only look like ours.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "install_e2e_fixture.h"
#include "process_runner.h"
#include "ui_driver.h"

namespace kxtest {
namespace {

enum { kCancel = 2 };

class RuntimeFolderEndToEnd : public InstallEndToEnd {
 protected:
  // Starts the wizard and waits for its first page: its runtime folder is
  // then complete and in use. Returns the folder's name.
  std::wstring StartWizard(kxdrive::Session& session) {
    std::vector<std::wstring> before = ListFolder(temp_);
    EXPECT_TRUE(session.Start(setup_, L"", Environment()));
    EXPECT_TRUE(session.WaitForPage(L"dlgwizwelc") != nullptr);
    for (const std::wstring& name : ListFolder(temp_))
      if (std::find(before.begin(), before.end(), name) == before.end()) return name;
    return std::wstring();
  }
};

TEST_F(RuntimeFolderEndToEnd, TheNextRunRemovesAKilledRunsFolderButNoLiveOrForeignOne) {
  std::wstring killed;
  {
    kxdrive::Session session(L"runtime-killed");
    killed = StartWizard(session);
    ASSERT_FALSE(killed.empty());
    ASSERT_TRUE(TerminateProcess(session.process(), 9));
    EXPECT_EQ(session.WaitForExit(), 9u);
  }
  ASSERT_TRUE(FolderExists(temp_ + L"\\" + killed)) << "a killed run cannot clean up";

  // Names like ours without our lock, and a lock that is a folder.
  for (const wchar_t* name : {L"kx0000ABCD", L"kx0000abce", L"kx0000ABCD0", L"kxNOTOURS!"})
    ASSERT_TRUE(CreateDirectoryW((temp_ + L"\\" + name).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((temp_ + L"\\kx0000ABCD\\kxrun.lock").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(temp_ + L"\\kx0000ABCD\\kxcore64.dll", "someone's"));

  kxdrive::Session live(L"runtime-live");
  const std::wstring liveFolder = StartWizard(live);
  ASSERT_FALSE(liveFolder.empty());
  std::vector<std::wstring> expected = {L"kx0000ABCD", L"kx0000ABCD0", L"kx0000abce", L"kxNOTOURS!", liveFolder};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListFolder(temp_), expected) << "the live run's start removes the killed run's folder";

  // A whole silent installation beside the live run.
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);
  EXPECT_EQ(ListFolder(temp_), expected);
  EXPECT_TRUE(FileExists(temp_ + L"\\" + liveFolder + L"\\kxcore64.dll"));

  HWND welcome = live.WaitForPage(L"dlgwizwelc");
  ASSERT_TRUE(welcome != nullptr);
  live.Press(welcome, kCancel);
  EXPECT_EQ(live.WaitForExit(), 2u);
  expected.erase(std::find(expected.begin(), expected.end(), liveFolder));
  EXPECT_EQ(ListFolder(temp_), expected);
  for (const wchar_t* name : {L"kx0000ABCD", L"kx0000abce", L"kx0000ABCD0", L"kxNOTOURS!"})
    RemoveTree(temp_ + L"\\" + name);
}

}  // namespace
}  // namespace kxtest
