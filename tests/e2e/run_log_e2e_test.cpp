// The run log of setup.exe and Uninst.exe (/LOG) and silent runs that never
// block on a message box (/S /SUPPRESSMSGBOXES), as a deployment tool sees
// them: the real programs, their exit codes and their logs.
#include <gtest/gtest.h>

#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/package_files.h"
#include "tests/support/seven_zip_writer.h"

namespace kxtest {
namespace {

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// The last step is the exit code.
void ExpectExitStep(const std::vector<std::wstring>& steps, int code) {
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(L"Exit code " + std::to_wstring(code), steps.back());
}

}  // namespace

TEST_F(InstallEndToEnd, TheLogsOfAnInstallAndItsUninstallNameEveryStep) {
  const std::wstring setupLog = work_ / L"logs with blanks\\setup.log";
  const std::wstring uninstallLog = work_ / L"uninstall.log";
  ASSERT_TRUE(CreateDirectoryW((work_ / L"logs with blanks").c_str(), nullptr));
  ASSERT_EQ(RunSetup(L"/S /LOG=" + Quoted(setupLog)), 0u);
  ProductStartedFrom(defaultFolder_);

  std::vector<std::wstring> steps = RunLogSteps(setupLog);
  const std::wstring key = std::wstring(L"HKEY_LOCAL_MACHINE\\") + kUninstallKey;
  for (const std::wstring& step : {
           L"Setup started: " + setup_,
           std::wstring(L"Command line: "),
           L"Variable DESTPATH = " + defaultFolder_,
           std::wstring(L"Variable SILENT = 1"),
           std::wstring(L"Page dlgwizwelc: skipped in a silent run"),
           L"Folder created: " + defaultFolder_,
           L"File written: " + defaultFolder_ + L"\\README.txt",
           L"File written: " + defaultFolder_ + L"\\docs\\LICENSE.txt",
           L"Registry value written: " + key + L" \"DisplayName\" = Quillmark Toolkit",
           L"Shortcut created: " + startMenuRoot_ + L"\\Quillmark\\Quillmark Toolkit.lnk",
           L"Uninstaller and uninstall log written into " + defaultFolder_,
           L"Task: started " + defaultFolder_ + L"\\Quillmark Toolkit.exe",
       })
    EXPECT_TRUE(HasStep(steps, step)) << Narrow(step) << StepsText(steps);
  ExpectExitStep(steps, 0);

  ASSERT_EQ(RunInstalledUninstaller(defaultFolder_, L"/S /LOG=" + Quoted(uninstallLog)), 0u);
  steps = RunLogSteps(uninstallLog);
  for (const std::wstring& step : {
           L"Uninstaller started: " + defaultFolder_ + L"\\Uninst.exe",
           L"Uninstall log read: " + defaultFolder_ + L"\\Uninst.dat",
           L"File deleted: " + defaultFolder_ + L"\\README.txt",
           L"Folder removed: " + defaultFolder_ + L"\\docs",
           L"Registry value deleted: \"" + key + L"\" \"DisplayName\"",
           L"Registry key deleted: " + key,
           L"Deleted at the next restart: " + defaultFolder_ + L"\\Uninst.exe",
       })
    EXPECT_TRUE(HasStep(steps, step)) << Narrow(step) << StepsText(steps);
  ExpectExitStep(steps, 0);
}

TEST_F(InstallEndToEnd, AFailingSilentRunWithSuppressedBoxesEndsWithItsCodeAndLogsEachBox) {
  PackageParts parts;
  ASSERT_TRUE(SplitPackage(ReadBytes(setup_), &parts));
  parts.payloadArchive = BuildSevenZip({ArchiveItem::File(L"README.txt", "read me"),
                                        ArchiveItem::File(std::wstring(259, L'n'), "too long")});
  const std::wstring broken = work_ / L"setup.exe";
  ASSERT_TRUE(WriteBytes(broken, ComposePackage(parts)));

  // No window may appear: the test answers none, so a box would hang the run
  // past the driver's deadline.
  kxdrive::Session session(L"install-suppressed-boxes");
  ASSERT_TRUE(session.Start(broken, L"/LOG /S /SUPPRESSMSGBOXES", Environment()));
  EXPECT_EQ(session.WaitForExit(120000), 1u);
  EXPECT_FALSE(FileExists(defaultFolder_ + L"\\Uninst.exe"));

  // The default log lies in %TEMP%, named after the package; nothing else is left there.
  std::vector<std::wstring> left = ListFolder(temp_);
  ASSERT_EQ(1u, left.size());
  EXPECT_EQ(0u, left[0].find(L"Quillmark Toolkit Setup (64-bit) setup ")) << Narrow(left[0]);
  std::vector<std::wstring> steps = RunLogSteps(temp_ + L"\\" + left[0]);
  for (const wchar_t* step : {L"Message box [error], answered OK without being shown: Error while unpacking archive",
                              L"Error 11: the payload could not be unpacked",
                              L"Message box [error], answered OK without being shown: An unexpected error occurred"})
    EXPECT_TRUE(HasStep(steps, step)) << StepsText(steps);
  ExpectExitStep(steps, 1);
}

TEST_F(InstallEndToEnd, ACancelledAndAKilledWizardLeaveUsefulLogs) {
  const std::wstring cancelled = work_ / L"cancelled.log";
  {
    kxdrive::Session session(L"install-log-cancel");
    ASSERT_TRUE(session.Start(setup_, L"/LOG=" + Quoted(cancelled), Environment()));
    HWND welcome = session.WaitForPage(L"dlgwizwelc");
    ASSERT_TRUE(welcome);
    session.Press(welcome, 2);
    EXPECT_EQ(session.WaitForExit(), 2u);
  }
  std::vector<std::wstring> steps = RunLogSteps(cancelled);
  EXPECT_TRUE(HasStep(steps, L"Page dlgwizwelc: Cancel")) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"Uninstall log discarded")) << StepsText(steps);
  ExpectExitStep(steps, 2);

  // A run killed on its licence page: every line written up to the kill is
  // whole, and the last ones tell where it stood.
  const std::wstring killed = work_ / L"killed.log";
  {
    kxdrive::Session session(L"install-log-killed");
    ASSERT_TRUE(session.Start(setup_, L"/LOG=" + Quoted(killed), Environment()));
    HWND welcome = session.WaitForPage(L"dlgwizwelc");
    ASSERT_TRUE(welcome);
    session.Press(welcome, 1);
    ASSERT_TRUE(session.WaitForPage(L"dlgwizlicag"));
  }  // the session ends the program
  steps = RunLogSteps(killed);
  EXPECT_TRUE(HasStep(steps, L"Page dlgwizwelc: Next")) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"Variable KXDLGLICCAPT = #WizLicAgTitle")) << StepsText(steps);
  EXPECT_FALSE(HasStep(steps, L"Exit code")) << StepsText(steps);
}

}  // namespace kxtest
