// What the launcher judges at start-up on the real file system: the folders
// setup may make its own, and the files /LOG may name. Known folders are
// stand-ins below a scratch folder, so each case says which rule it meets.
#include <gtest/gtest.h>

#include <string>

#include "core/kxcore.h"
#include "launcher/install_folders.h"
#include "launcher/package_data.h"
#include "launcher/run_log_file.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

using namespace kxtest;

namespace {

using Verdict = InstallFolderVerdict;

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH];
  UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length);
}

std::wstring ShortName(const std::wstring& path) {
  wchar_t shortened[MAX_PATH];
  DWORD length = GetShortPathNameW(path.c_str(), shortened, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(shortened, length) : path;
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(c));
  return text;
}

class InstallFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFake();
    programFiles_ = scratch_ / L"Program Files";
    startMenu_ = scratch_ / L"ProgramData\\Start Menu\\Programs";
    ASSERT_TRUE(CreateDirectoryW(programFiles_.c_str(), nullptr));
    for (const wchar_t* folder : {L"ProgramData", L"ProgramData\\Start Menu", L"ProgramData\\Start Menu\\Programs"})
      ASSERT_TRUE(CreateDirectoryW((scratch_ / folder).c_str(), nullptr));
    SetVar(L"PROGFILESDIR", programFiles_.c_str());
    SetVar(L"COMPROGMENUDIR", startMenu_.c_str());
  }

  ScratchFolder scratch_;
  std::wstring programFiles_;
  std::wstring startMenu_;
};

TEST_F(InstallFolders, OnlyAFolderOfItsOwnBelowTheSystemFolders) {
  const std::wstring windows = WindowsFolder();
  const std::wstring root = scratch_.path().substr(0, scratch_.path().size() - 1);
  const struct {
    std::wstring folder;
    Verdict verdict;
  } cases[] = {
      {programFiles_ + L"\\Quillmark", Verdict::kAllowed},
      {programFiles_ + L"\\Tidewater\\Charts", Verdict::kAllowed},
      {startMenu_ + L"\\Quillmark", Verdict::kAllowed},
      {scratch_ / L"Apps/Quillmark", Verdict::kAllowed},
      {L"D:\\Tools\\Quillmark", Verdict::kAllowed},
      {L"\\\\server\\share\\Quillmark", Verdict::kAllowed},
      {L"C:\\", Verdict::kDriveRoot},
      {L"c:\\", Verdict::kDriveRoot},
      {L"D:\\", Verdict::kDriveRoot},
      {L"\\\\server\\share", Verdict::kDriveRoot},
      {L"\\\\server\\share\\", Verdict::kDriveRoot},
      {windows, Verdict::kWindowsFolder},
      {Upper(windows) + L"\\System32", Verdict::kWindowsFolder},
      {windows + L"\\system32\\drivers\\Quillmark", Verdict::kWindowsFolder},
      {ShortName(windows + L"\\system32"), Verdict::kWindowsFolder},
      {programFiles_, Verdict::kKnownFolder},
      {Upper(programFiles_), Verdict::kKnownFolder},
      {ShortName(programFiles_), Verdict::kKnownFolder},
      {startMenu_, Verdict::kKnownFolder},
      {scratch_ / L"ProgramData\\Start Menu", Verdict::kKnownFolder},  // holds the programs folder
      {scratch_ / L"ProgramData", Verdict::kKnownFolder},
      {root, Verdict::kKnownFolder},  // holds both
      {L"C:", Verdict::kNotAFolderPath},
      {L"Quillmark", Verdict::kNotAFolderPath},
      {L"\\Quillmark", Verdict::kNotAFolderPath},
      {L"\\\\?\\C:\\Quillmark", Verdict::kNotAFolderPath},
      {L"\\\\.\\C:\\Quillmark", Verdict::kNotAFolderPath},
      {L"C:\\Quillmark:stream", Verdict::kNotAFolderPath},
      {programFiles_ + L"\\..\\Quillmark", Verdict::kNotAFolderPath},
      {programFiles_ + L"\\Quillmark.", Verdict::kNotAFolderPath},
      {programFiles_ + L"\\Quillmark\\", Verdict::kNotAFolderPath},
      {programFiles_ + L"\\NUL", Verdict::kNotAFolderPath},
      {programFiles_ + L"\\Quill\u0085mark", Verdict::kNotAFolderPath},
      {L"C:\\" + std::wstring(257, L'q'), Verdict::kNotAFolderPath},  // 260 units
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.folder));
    EXPECT_EQ(JudgeInstallFolder(c.folder.c_str()), c.verdict);
  }
  EXPECT_EQ(JudgeInstallFolder((L"C:\\" + std::wstring(256, L'q')).c_str()), Verdict::kAllowed);
}

TEST_F(InstallFolders, ThePackagesFoldersAreJudgedAsTheScriptWillSeeThem) {
  ScratchFolder runtime;
  ASSERT_TRUE(WriteBytes(runtime / L"kxpackage.dat",
                         "kxpackage 1\n"
                         "product.name=Tide Charts\nproduct.version=1\nproduct.publisher=Tidewater\nproduct.url=\n"
                         "product.uninstall_key=TideCharts_0A1B2C3D\nproduct.wizard_label=Tide Charts Setup\n"
                         "product.window_title=Tide Charts Setup\ninstall.folder=%PROGFILESDIR%\\Tidewater\n"
                         "install.start_menu_folder=%COMPROGMENUDIR%\\Tide Charts\ninstall.program=tide.exe\n"
                         "install.shortcut=Tide Charts\ntasks.start_program=0\ntasks.open_folder=0\n"
                         "tasks.start_program_silent=0\ntasks.open_folder_silent=0\n"));
  ASSERT_EQ(LoadPackageData(runtime.path().c_str()), kPackageDataOk);
  EXPECT_TRUE(PackageFoldersAllowed());
  // Literal folders kxpack's text rules let through; the start-up does not.
  for (const std::wstring& folder : {WindowsFolder() + L"\\system32", programFiles_, scratch_ / L"ProgramData"}) {
    SCOPED_TRACE(Narrow(folder));
    wcscpy(g_package.installFolder, folder.c_str());
    EXPECT_FALSE(PackageFoldersAllowed());
  }
  wcscpy(g_package.installFolder, L"%PROGFILESDIR%\\Tidewater");
  wcscpy(g_package.startMenuFolder, (scratch_ / L"ProgramData\\Start Menu").c_str());
  EXPECT_FALSE(PackageFoldersAllowed());
}

class RunLogFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteBytes(setup_, "MZ setup"));
    ASSERT_TRUE(WriteBytes(uninstaller_, "MZ uninstaller"));
    ASSERT_TRUE(WriteBytes(uninstallLog_, "uninstall log"));
    ASSERT_TRUE(WriteBytes(renamed_, "MZ uninstaller"));
    ASSERT_TRUE(WriteBytes(scratch_ / L"remove.dat", "uninstall log"));
  }

  ScratchFolder scratch_;
  std::wstring setup_ = scratch_ / L"setup.exe";
  std::wstring uninstaller_ = scratch_ / L"Uninst.exe";
  std::wstring uninstallLog_ = scratch_ / L"Uninst.dat";
  std::wstring renamed_ = scratch_ / L"remove.exe";
};

TEST_F(RunLogFiles, NeverTheProgramItsUninstallerOrAnUninstallLog) {
  ASSERT_TRUE(CreateHardLinkW((scratch_ / L"hard link.log").c_str(), setup_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((scratch_ / L"logs").c_str(), nullptr));
  const struct {
    std::wstring log;
    std::wstring program;
    bool uninstaller;
    RunLogFileVerdict verdict;
  } cases[] = {
      {scratch_ / L"setup.log", setup_, false, RunLogFileVerdict::kAllowed},
      {scratch_ / L"logs\\run.log", setup_, false, RunLogFileVerdict::kAllowed},
      {scratch_ / L"setup.dat", setup_, false, RunLogFileVerdict::kAllowed},
      {scratch_ / L"remove.dat", setup_, false, RunLogFileVerdict::kAllowed},  // setup has no log of its own
      {scratch_ / L"remove.log", renamed_, true, RunLogFileVerdict::kAllowed},
      {setup_, setup_, false, RunLogFileVerdict::kProgram},
      {Upper(setup_), setup_, false, RunLogFileVerdict::kProgram},
      {ShortName(scratch_.path()) + L"setup.exe", setup_, false, RunLogFileVerdict::kProgram},
      {scratch_ / L"logs\\..\\setup.exe", setup_, false, RunLogFileVerdict::kProgram},
      {scratch_ / L"hard link.log", setup_, false, RunLogFileVerdict::kProgram},
      {uninstaller_, uninstaller_, true, RunLogFileVerdict::kProgram},
      {uninstallLog_, uninstaller_, true, RunLogFileVerdict::kUninstallLog},
      {Upper(uninstallLog_), uninstaller_, true, RunLogFileVerdict::kUninstallLog},
      {scratch_ / L"remove.dat", renamed_, true, RunLogFileVerdict::kUninstallLog},
      {scratch_ / L"logs\\remove.dat", scratch_ / L"logs\\remove.exe", true, RunLogFileVerdict::kUninstallLog},
      // Setup writes its uninstaller and log into a folder it learns later:
      // these names are refused wherever they lie, existing or not.
      {uninstallLog_, setup_, false, RunLogFileVerdict::kUninstallLog},
      {scratch_ / L"logs\\uninst.DAT", setup_, false, RunLogFileVerdict::kUninstallLog},
      {uninstaller_, setup_, false, RunLogFileVerdict::kUninstaller},
      {scratch_ / L"logs\\UNINST.EXE", setup_, false, RunLogFileVerdict::kUninstaller},
      {scratch_ / L"~kxsetup.jnl", setup_, false, RunLogFileVerdict::kInstallJournal},
      {scratch_ / L"logs\\~KXSETUP.JNL", renamed_, true, RunLogFileVerdict::kInstallJournal},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.log) + " for " + Narrow(c.program));
    EXPECT_EQ(JudgeRunLogFile(c.log.c_str(), c.program.c_str(), c.uninstaller), c.verdict);
  }
}

}  // namespace
