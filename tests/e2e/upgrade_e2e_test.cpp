// Installing over an installation: the complete uninstall entry as Windows'
// own tools read it, an upgrade to the next version of the package and its
// uninstall, and a reinstall right after an uninstall that a restart must
// not take away.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/kxcore.h"
#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/process_runner.h"

namespace kxtest {
namespace {

constexpr wchar_t kNews[] = L"docs\\NEWS.txt";        // only in the next version
constexpr wchar_t kChanges[] = L"docs\\CHANGES.txt";  // only in this one

class UpgradeEndToEnd : public InstallEndToEnd {
 protected:
  void SetUp() override {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    InstallEndToEnd::SetUp();
    nextSetup_ = TestDataPath("KX_TEST_SETUP_V2");
    folder_ = work_ / L"Chosen 100%\\Quillmark";
  }
  void TearDown() override {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    InstallEndToEnd::TearDown();
  }

  DWORD Run(const std::wstring& program, const std::wstring& arguments) {
    LaunchOptions options;
    options.arguments = arguments;
    options.environment = Environment();
    return RunToExit(program, options, 180000);
  }

  // What a Windows tool prints, through cmd's redirection into a file.
  std::string ToolOutput(const std::wstring& commandLine) {
    const std::wstring out = work_ / L"tool.txt";
    DeleteFileW(out.c_str());
    Run(L"C:\\windows\\system32\\cmd.exe", L"/c " + commandLine + L" > \"" + out + L"\"");
    return ReadBytes(out);
  }

  std::wstring nextSetup_;
  std::wstring folder_;
};

}  // namespace

TEST_F(UpgradeEndToEnd, WindowsToolsSeeTheElevenValuesAndNoneAfterTheUninstall) {
  ASSERT_EQ(RunSetup(L"/S /D=" + folder_), 0u);
  ProductStartedFrom(folder_);
  ExpectInstalled(folder_, startMenuRoot_ + L"\\Quillmark");

  const std::string query = ToolOutput(std::wstring(L"reg query \"HKLM\\") + kUninstallKey + L"\"");
  for (const char* value : {"DisplayName", "DisplayVersion", "UninstallString", "Publisher", "URLInfoAbout",
                            "DisplayIcon", "InstallLocation", "EstimatedSize", "QuietUninstallString", "NoModify",
                            "NoRepair"})
    EXPECT_NE(query.find(std::string("    ") + value + "    "), std::string::npos) << value << "\n" << query;
  EXPECT_NE(query.find("NoModify    REG_DWORD    0x1"), std::string::npos) << query;
  // Wine's list of installed programs (its Add/Remove Programs) names it.
  EXPECT_NE(ToolOutput(L"uninstaller.exe --list").find("Quillmark Toolkit"), std::string::npos);

  ASSERT_EQ(RunInstalledUninstaller(folder_, L"/S"), 0u);
  EXPECT_EQ(ToolOutput(L"uninstaller.exe --list").find("Quillmark Toolkit"), std::string::npos);
  EXPECT_EQ(ToolOutput(std::wstring(L"reg query \"HKLM\\") + kUninstallKey + L"\"").find("REG_"), std::string::npos);
}

TEST_F(UpgradeEndToEnd, TheNextVersionGoesWhereTheFirstIsAndItsUninstallRemovesBoth) {
  ASSERT_EQ(RunSetup(L"/S /D=" + folder_), 0u);
  ProductStartedFrom(folder_);

  // The wizard offers the recorded folder.
  {
    kxdrive::Session session(L"upgrade-offers-folder");
    ASSERT_TRUE(session.Start(nextSetup_, L"", Environment()));
    for (const wchar_t* page : {L"dlgwizwelc", L"dlgwizlicag"}) {
      HWND shown = session.WaitForPage(page);
      ASSERT_TRUE(shown);
      session.Press(shown, 1);
    }
    HWND destination = session.WaitForPage(L"dlgwizseldir");
    ASSERT_TRUE(destination);
    EXPECT_EQ(folder_, kxdrive::ControlText(destination, 20));
    session.Press(destination, 2);
    EXPECT_EQ(session.WaitForExit(), 2u);
  }

  // /S goes there too, keeping what only the first version had.
  const std::wstring log = work_ / L"upgrade.log";
  ASSERT_EQ(Run(nextSetup_, L"/S /LOG=\"" + log + L"\""), 0u) << StepsText(RunLogSteps(log));
  ProductStartedFrom(folder_);
  EXPECT_FALSE(FolderExists(defaultFolder_));
  EXPECT_TRUE(FileExists(folder_ + L"\\" + kNews));
  EXPECT_TRUE(FileExists(folder_ + L"\\" + kChanges));
  std::vector<std::wstring> steps = RunLogSteps(log);
  EXPECT_TRUE(HasStep(steps, L"File replaced: " + folder_ + L"\\README.txt"));
  EXPECT_TRUE(HasStep(steps, L"File written: " + folder_ + L"\\" + kNews));
  std::vector<kxcore::UninstallRecord> records = ReadLog(folder_);
  for (const wchar_t* file : {kNews, kChanges, L"README.txt", L"Uninst.exe"}) {
    const kxcore::UninstallRecord record = {KX_LOG_FILE, folder_ + L"\\" + file};
    EXPECT_EQ(1, std::count(records.begin(), records.end(), record)) << Narrow(file);
  }
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"InstallLocation"), folder_);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"), L"2021.03.01.01");

  ASSERT_EQ(RunInstalledUninstaller(folder_, L"/S"), 0u);
  EXPECT_EQ((std::vector<std::wstring>{L"Uninst.exe"}), ListFolder(folder_));
  EXPECT_FALSE(FolderExists(startMenuRoot_ + L"\\Quillmark"));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"<missing>");
}

TEST_F(UpgradeEndToEnd, AReinstallRightAfterAnUninstallSurvivesTheRestart) {
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);
  ASSERT_EQ(RunInstalledUninstaller(defaultFolder_, L"/S"), 0u);
  ASSERT_FALSE(PendingOperations().empty());

  // Before the restart: the uninstaller and its folder are still scheduled.
  ASSERT_EQ(RunSetup(L"/S"), 0u);
  ProductStartedFrom(defaultFolder_);
  EXPECT_TRUE(PendingOperations().empty());
  EXPECT_EQ(RunToExit(L"C:\\windows\\system32\\wineboot.exe", LaunchOptions{L"-r", L"", {}}), 0u);
  ExpectInstalled(defaultFolder_, startMenuRoot_ + L"\\Quillmark");

  // The folder it took over is its own again: the next uninstall removes it.
  std::vector<kxcore::UninstallRecord> records = ReadLog(defaultFolder_);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0], (kxcore::UninstallRecord{KX_LOG_FOLDER, defaultFolder_}));
  ASSERT_EQ(RunInstalledUninstaller(defaultFolder_, L"/S"), 0u);
  EXPECT_EQ(RunToExit(L"C:\\windows\\system32\\wineboot.exe", LaunchOptions{L"-r", L"", {}}), 0u);
  EXPECT_FALSE(FolderExists(defaultFolder_));
}

}  // namespace kxtest
