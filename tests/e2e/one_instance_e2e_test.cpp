// One run of a package at a time: while a setup or the uninstaller of the
// package waits on its first question, a second run of either is refused
// before it changes anything, silently with exit code 5 under /S and with a
// message otherwise.
#include <gtest/gtest.h>

#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"

namespace kxtest {
namespace {

constexpr DWORD kAnotherInstance = 5;
constexpr int kCancel = 2;
constexpr wchar_t kRefusal[] = L"Another setup or uninstall of Quillmark Toolkit Setup (64-bit) is running.";

class OneInstanceEndToEnd : public InstallEndToEnd {
 protected:
  // A wizard waiting on its welcome page.
  HWND StartWizard(kxdrive::Session& session) {
    EXPECT_TRUE(session.Start(setup_, L"", Environment()));
    return session.WaitForPage(L"dlgwizwelc");
  }
};

}  // namespace

TEST_F(OneInstanceEndToEnd, ASecondSetupIsRefusedSilentlyOrWithAMessageUntilTheFirstEnds) {
  kxdrive::Session first(L"one-instance-first");
  HWND welcome = StartWizard(first);
  ASSERT_TRUE(welcome);

  const std::wstring log = work_ / L"second.log";
  EXPECT_EQ(RunSetup(L"/S /LOG=\"" + log + L"\""), kAnotherInstance);
  EXPECT_FALSE(FolderExists(defaultFolder_));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"<missing>");
  EXPECT_EQ(ListFolder(temp_).size(), 1u) << "only the first run's runtime folder stays";
  const std::vector<std::wstring> steps = RunLogSteps(log);
  EXPECT_TRUE(HasStep(steps, L"Error: another setup or uninstaller of this package is running")) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"Exit code 5")) << StepsText(steps);

  kxdrive::Session second(L"one-instance-second");
  ASSERT_TRUE(second.Start(setup_, L"", Environment()));
  EXPECT_TRUE(second.Answer(kRefusal, IDOK));
  EXPECT_EQ(second.WaitForExit(), kAnotherInstance);

  first.Press(welcome, kCancel);
  EXPECT_EQ(first.WaitForExit(), 2u);
  EXPECT_EQ(RunSetup(L"/S"), 0u) << "the package is free again once the first run has ended";
  ProductStartedFrom(defaultFolder_);
  ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");
}

TEST_F(OneInstanceEndToEnd, SetupAndTheUninstallerRefuseEachOther) {
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);

  {
    kxdrive::Session setup(L"one-instance-setup-first");
    HWND welcome = StartWizard(setup);
    ASSERT_TRUE(welcome);
    EXPECT_EQ(RunInstalledUninstaller(defaultFolder_, L"/S"), kAnotherInstance);
    setup.Press(welcome, kCancel);
    EXPECT_EQ(setup.WaitForExit(), 2u);
  }
  ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");

  kxdrive::Session uninstaller(L"one-instance-uninstaller-first");
  ASSERT_TRUE(uninstaller.Start(defaultFolder_ + L"\\Uninst.exe", L"", Environment()));
  HWND question = uninstaller.WaitForMessageBox(L"Do you really want to uninstall");
  ASSERT_TRUE(question);
  EXPECT_EQ(RunSetup(L"/S"), kAnotherInstance);
  ASSERT_TRUE(kxdrive::AnswerMessageBox(question, IDNO));
  EXPECT_EQ(uninstaller.WaitForExit(), 2u);
  ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");
}

}  // namespace kxtest
