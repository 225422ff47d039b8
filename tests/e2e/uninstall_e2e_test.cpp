// Install, then uninstall with the installed Uninst.exe: what is left, what
// is scheduled for the next restart, and what a restart then removes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/kxcore.h"
#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/file_links.h"
#include "tests/support/process_runner.h"

namespace kxtest {
namespace {

constexpr wchar_t kTitle[] = L"Quillmark Toolkit Setup (64-bit)";

class UninstallEndToEnd : public InstallEndToEnd {
 protected:
  void SetUp() override {
    InstallEndToEnd::SetUp();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
  }
  void TearDown() override {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    InstallEndToEnd::TearDown();
  }

  std::wstring Uninstaller() const { return defaultFolder_ + L"\\Uninst.exe"; }

  void InstallSilently() {
    ASSERT_EQ(RunSetup(L"/S"), 0u);
    // The product the setup started keeps its folder in use: close it.
    ProductStartedFrom(defaultFolder_);
    ASSERT_TRUE(FileExists(Uninstaller()));
  }

  DWORD RunUninstaller(const std::wstring& arguments) {
    LaunchOptions options;
    options.arguments = arguments;
    options.environment = Environment();
    return RunToExit(Uninstaller(), options, 180000);
  }

  void ExpectOnlyTheScheduledUninstallerLeft() {
    EXPECT_EQ((std::vector<std::wstring>{L"Uninst.exe"}), ListFolder(defaultFolder_));
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    if (key) RegCloseKey(key);
    EXPECT_FALSE(FolderExists(startMenuRoot_ + L"\\Quillmark"));
    EXPECT_TRUE(ListFolder(temp_).empty()) << "runtime folder left in %TEMP%";
    // The uninstaller goes at the next restart, and its folder right after it.
    std::vector<std::pair<std::wstring, std::wstring>> expected = {{Uninstaller(), L""}, {defaultFolder_, L""}};
    EXPECT_EQ(expected, PendingOperations());
  }
};

}  // namespace

TEST_F(UninstallEndToEnd, SilentRoundTripLeavesNothingAfterARestart) {
  InstallSilently();
  EXPECT_EQ(RunUninstaller(L"/S"), 0u);
  ExpectOnlyTheScheduledUninstallerLeft();

  // A restart carries out the deferred deletions.
  EXPECT_EQ(RunToExit(L"C:\\windows\\system32\\wineboot.exe", LaunchOptions{L"-r", L"", {}}), 0u);
  EXPECT_FALSE(FolderExists(defaultFolder_));
  EXPECT_TRUE(PendingOperations().empty());
}

// Signing keeps the container readable: the signed setup installs the
// signed uninstaller, which then removes the installation.
TEST_F(UninstallEndToEnd, ASignedPackageInstallsItsSignedUninstallerThatRemovesIt) {
  const std::wstring signedFolder = TestDataPath("KX_TEST_PACKAGES") + L"\\signed";
  setup_ = signedFolder + L"\\setup.exe";
  InstallSilently();
  EXPECT_EQ(ReadBytes(Uninstaller()), ReadBytes(signedFolder + L"\\Uninst.exe"));
  EXPECT_EQ(RunUninstaller(L"/S"), 0u);
  ExpectOnlyTheScheduledUninstallerLeft();
}

// Started by its short (8.3) name, as an uninstall entry may name it: the log's
// long names are the same files, and what is scheduled names the real ones.
TEST_F(UninstallEndToEnd, StartedByItsShortNameItRemovesTheSame) {
  InstallSilently();
  wchar_t shortName[MAX_PATH];
  ASSERT_GT(GetShortPathNameW(Uninstaller().c_str(), shortName, MAX_PATH), 0u);
  ASSERT_NE(Uninstaller(), shortName);
  LaunchOptions options;
  options.arguments = L"/S";
  options.environment = Environment();
  EXPECT_EQ(RunToExit(shortName, options, 180000), 0u);
  ExpectOnlyTheScheduledUninstallerLeft();
}

TEST_F(UninstallEndToEnd, AFileTheUserAddedSurvivesWithItsFolder) {
  InstallSilently();
  ASSERT_TRUE(WriteBytes(defaultFolder_ + L"\\docs\\my notes.txt", "mine"));
  EXPECT_EQ(RunUninstaller(L"/S"), 0u);
  EXPECT_EQ((std::vector<std::wstring>{L"Uninst.exe", L"docs"}), ListFolder(defaultFolder_));
  EXPECT_EQ((std::vector<std::wstring>{L"my notes.txt"}), ListFolder(defaultFolder_ + L"\\docs"));
  std::vector<std::pair<std::wstring, std::wstring>> expected = {{Uninstaller(), L""}};
  EXPECT_EQ(expected, PendingOperations()) << "a folder that keeps the user's file is not scheduled";
}

TEST_F(UninstallEndToEnd, ADamagedLogStopsTheUninstallAndRemovesNothing) {
  InstallSilently();
  std::string log = ReadBytes(defaultFolder_ + L"\\Uninst.dat");
  ASSERT_GT(log.size(), 100u);
  ASSERT_TRUE(WriteBytes(defaultFolder_ + L"\\Uninst.dat", log.substr(0, log.size() / 2)));
  EXPECT_EQ(RunUninstaller(L"/S"), 3u);
  EXPECT_TRUE(FileExists(defaultFolder_ + L"\\README.txt"));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"Quillmark Toolkit");
  EXPECT_TRUE(PendingOperations().empty()) << "the uninstaller must survive a restart to be run again";
}

// Logs with a valid checksum that name something of someone else's, or a
// path written to slip past a check: each is damaged as a whole.
TEST_F(UninstallEndToEnd, AForgedLogRemovesNothingAtAll) {
  InstallSilently();
  const std::vector<kxcore::UninstallRecord> genuine = ReadLog(defaultFolder_);
  ASSERT_FALSE(genuine.empty());
  const std::wstring victims = work_ / L"victims";
  ASSERT_TRUE(CreateDirectoryW(victims.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(victims + L"\\documents.txt", "the user's"));
  ASSERT_TRUE(WriteBytes(victims + L"\\readonly.ini", "system's"));
  SetFileAttributesW((victims + L"\\readonly.ini").c_str(), FILE_ATTRIBUTE_READONLY);
  const std::wstring victimKey = L"Software\\KxTests\\ForgedLogVictim";
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, victimKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &key, nullptr));
  RegSetValueExW(key, L"Setting", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4);
  RegCloseKey(key);
  const std::wstring victimKeyText = L"HKEY_LOCAL_MACHINE\\" + victimKey;

  const std::vector<kxcore::UninstallRecord> hostile = {
      {KX_LOG_FILE, victims + L"\\documents.txt"},
      {KX_LOG_FILE, victims + L"\\readonly.ini"},
      {KX_LOG_FOLDER, victims},
      {KX_LOG_FILE, L"\\\\?\\" + defaultFolder_ + L"\\README.txt"},
      {KX_LOG_FILE, defaultFolder_ + L"\\docs\\..\\README.txt"},
      {KX_LOG_FILE, L"README.txt"},
      {KX_LOG_FOLDER, startMenuRoot_},
      {KX_LOG_REGKEY, victimKeyText},
      {KX_LOG_REGVALUE, L"\"" + victimKeyText + L"\" \"Setting\""}};
  for (const kxcore::UninstallRecord& record : hostile) {
    // Last, after the genuine records: the whole log is judged before the
    // first removal.
    std::vector<kxcore::UninstallRecord> forged = genuine;
    forged.push_back(record);
    ASSERT_TRUE(WriteBytes(defaultFolder_ + L"\\Uninst.dat", kxcore::FormatUninstallLog(forged)));
    EXPECT_EQ(RunUninstaller(L"/S"), 3u) << Narrow(record.text);
    EXPECT_TRUE(FileExists(defaultFolder_ + L"\\README.txt")) << Narrow(record.text);
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"Quillmark Toolkit");
    EXPECT_TRUE(PendingOperations().empty()) << Narrow(record.text);
  }
  EXPECT_EQ(ReadBytes(victims + L"\\documents.txt"), "the user's");
  EXPECT_EQ(ReadBytes(victims + L"\\readonly.ini"), "system's");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, victimKey, L"Setting"), L"1");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, victimKey.c_str());
  SetFileAttributesW((victims + L"\\readonly.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(UninstallEndToEnd, DecliningTheQuestionRemovesNothing) {
  InstallSilently();
  kxdrive::Session session(L"uninstall-no");
  ASSERT_TRUE(session.Start(Uninstaller(), L"", Environment()));
  EXPECT_TRUE(session.Answer(L"Do you really want to uninstall the \"Quillmark Toolkit Setup (64-bit)\" package?", IDNO));
  EXPECT_EQ(session.WaitForExit(), 2u);
  EXPECT_TRUE(FileExists(defaultFolder_ + L"\\Quillmark Toolkit.exe"));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"Quillmark Toolkit");
  EXPECT_TRUE(ListFolder(temp_).empty());
  EXPECT_TRUE(PendingOperations().empty()) << "a declined uninstall schedules nothing";
}

TEST_F(UninstallEndToEnd, ConfirmingShowsTheProgressWithoutCancelThenTheFinalMessage) {
  InstallSilently();
  // Enough logged files that the progress box stays up long enough to be seen.
  std::vector<kxcore::UninstallRecord> records = ReadLog(defaultFolder_);
  ASSERT_FALSE(records.empty());
  const std::wstring bulk = defaultFolder_ + L"\\bulk";
  ASSERT_TRUE(CreateDirectoryW(bulk.c_str(), nullptr));
  records.insert(records.begin(), kxcore::UninstallRecord{KX_LOG_FOLDER, bulk});
  for (int i = 0; i < 1500; ++i) {
    std::wstring file = bulk + L"\\file" + std::to_wstring(i) + L".txt";
    ASSERT_TRUE(WriteBytes(file, "x"));
    records.insert(records.begin() + 1, kxcore::UninstallRecord{KX_LOG_FILE, file});
  }
  ASSERT_TRUE(WriteBytes(defaultFolder_ + L"\\Uninst.dat", kxcore::FormatUninstallLog(records)));

  kxdrive::Session session(L"uninstall-yes");
  ASSERT_TRUE(session.Start(Uninstaller(), L"", Environment()));
  HWND question = session.WaitForMessageBox(L"Do you really want to uninstall");
  ASSERT_TRUE(question != nullptr);
  EXPECT_EQ(kxdrive::WindowText(question), kTitle);
  ASSERT_TRUE(kxdrive::AnswerMessageBox(question, IDYES));
  HWND progress = session.WaitForPage(L"dlgprogress");
  ASSERT_TRUE(progress != nullptr);
  EXPECT_FALSE(kxdrive::IsVisible(kxdrive::Control(progress, 0))) << "an uninstall cannot be cancelled";

  HWND finalMessage = session.WaitForMessageBox(
      L"The changes made by the \"Quillmark Toolkit Setup (64-bit)\" package were successfully removed!");
  ASSERT_TRUE(finalMessage != nullptr);
  EXPECT_EQ(kxdrive::WindowText(finalMessage), kTitle);
  // The box is closed before the final message.
  for (HWND window : kxdrive::TopWindows(session.processId()))
    EXPECT_TRUE(kxdrive::IsMessageBox(window)) << "a window besides the final message is still open";
  ASSERT_TRUE(kxdrive::AnswerMessageBox(finalMessage, IDOK));
  EXPECT_EQ(session.WaitForExit(), 0u);
  ExpectOnlyTheScheduledUninstallerLeft();
}

}  // namespace kxtest

namespace kxtest {
namespace {

// A folder of the installation replaced by a link to another folder that
// holds files of the same names: the uninstaller follows no link out of the
// installation, and what the link leads to stays whole.
TEST_F(UninstallEndToEnd, ALinkInPlaceOfAnInstalledFolderLeavesItsTargetWhole) {
  InstallSilently();
  ScratchFolder outside;
  ASSERT_TRUE(WriteBytes(outside / L"CHANGES.txt", "someone else's"));
  const std::wstring docs = defaultFolder_ + L"\\docs";
  ASSERT_TRUE(MoveFileW(docs.c_str(), (work_ / L"docs-moved").c_str()));
  ASSERT_TRUE(MakeLink(docs, outside.path()));

  const DWORD code = RunUninstaller(L"/S");
  EXPECT_TRUE(code == 0 || code == 3) << code;
  EXPECT_EQ("someone else's", ReadBytes(outside / L"CHANGES.txt"));
  EXPECT_EQ((std::vector<std::wstring>{L"CHANGES.txt"}), ListFolder(outside.path()));
  // Under Wine the uninstaller cannot tell the link from its target and
  // leaves it (docs/uninstaller.md); it must go before `outside` does, or it
  // dangles in the prefix and every later install into this folder fails.
  EXPECT_TRUE(RemoveLink(docs));
  EXPECT_EQ("someone else's", ReadBytes(outside / L"CHANGES.txt"));
}

}  // namespace
}  // namespace kxtest
