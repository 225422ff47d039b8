// Runtime folders in %TEMP% that the next run finds: a killed setup's goes,
// a running setup's stays, and folders that only look like ours stay. The
// running setup is another package's: a second run of one package is
// refused before it unpacks anything.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"

namespace kxtest {

TEST_F(InstallEndToEnd, TheNextRunRemovesAKilledRunsFolderButNoLiveOrForeignOne) {
  // Each wizard waits on its first page, its runtime folder complete.
  auto startWizard = [&](kxdrive::Session& session, const std::wstring& setup) {
    std::vector<std::wstring> before = ListFolder(temp_);
    EXPECT_TRUE(session.Start(setup, L"", Environment()));
    EXPECT_TRUE(session.WaitForPage(L"dlgwizwelc") != nullptr);
    for (const std::wstring& name : ListFolder(temp_))
      if (std::find(before.begin(), before.end(), name) == before.end()) return name;
    return std::wstring();
  };
  kxdrive::Session killed(L"runtime-killed");
  ASSERT_FALSE(startWizard(killed, setup_).empty());
  ASSERT_TRUE(TerminateProcess(killed.process(), 9));
  EXPECT_EQ(killed.WaitForExit(), 9u);

  // Not ours: no lock, a lock that is a folder, names we never write.
  std::vector<std::wstring> expected = {L"kx0000ABCD", L"kx0000ABCD0", L"kx0000abce", L"kxNOTOURS!"};
  for (const std::wstring& name : expected) ASSERT_TRUE(CreateDirectoryW((temp_ + L"\\" + name).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((temp_ + L"\\kx0000ABCD\\kxrun.lock").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(temp_ + L"\\kx0000abce\\kxrun.lock", ""));

  kxdrive::Session live(L"runtime-live");
  const std::wstring liveFolder = startWizard(live, TestDataPath("KX_TEST_PACKAGES") + L"\\tidecharts\\setup.exe");
  ASSERT_FALSE(liveFolder.empty());
  expected.push_back(liveFolder);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListFolder(temp_), expected) << "the killed run's folder is gone";

  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);
  EXPECT_EQ(ListFolder(temp_), expected) << "a live run's folder stays";
  live.Press(live.WaitForPage(L"dlgwizwelc"), 2);  // Cancel
  EXPECT_EQ(live.WaitForExit(), 2u);
  EXPECT_FALSE(FolderExists(temp_ + L"\\" + liveFolder));
}

}  // namespace kxtest
