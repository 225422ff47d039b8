// A package for the current user only (install.scope = "current_user"):
// installed silently into the user's programs folder with a nested
// Start-menu folder of the user's and its uninstall entry under
// HKEY_CURRENT_USER, checked with Wine's own reg.exe, then removed by its
// uninstaller back to the state before. Both programs ask Windows for no
// administrator, and the uninstaller refuses a log that names a
// machine-wide place.
#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/kxcore.h"
#include "core/uninstall_log.h"
#include "base/path_services.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/process_runner.h"

namespace kxtest {
namespace {

constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Pocket Tides Uninstall Key";
constexpr wchar_t kVictimKey[] = L"Software\\KxTests\\UserScopeVictim";

// The manifest Windows reads from a program: what decides whether it asks
// for an administrator.
std::string ProgramManifest(const std::wstring& path) {
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return "<no module>";
  std::string text = "<no manifest>";
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  if (loaded) text.assign(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
  FreeLibrary(module);
  return text;
}

// The user's programs folder: its known folder, or where Windows defines it
// (Wine does not know the id).
std::wstring UserProgramFiles() {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_UserProgramFiles, KF_FLAG_CREATE, nullptr, &path))) result = path;
  CoTaskMemFree(path);
  return result.empty() ? KnownFolder(FOLDERID_LocalAppData) + L"\\Programs" : result;
}

class UserScope : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    setup_ = TestDataPath("KX_TEST_PACKAGES") + L"\\pockettides\\setup.exe";
    programsParent_ = UserProgramFiles() + L"\\Tidewater";
    folder_ = programsParent_ + L"\\Pocket Tides";
    startMenuParent_ = KnownFolder(FOLDERID_Programs) + L"\\Tidewater";
    startMenu_ = startMenuParent_ + L"\\Pocket Tides";
    temp_ = work_ / L"temp";
    ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), nullptr));
    Clean();
  }
  void TearDown() override {
    Clean();
    CoUninitialize();
  }

  void Clean() {
    RemoveTree(programsParent_);
    RemoveTree(startMenuParent_);
    RemoveTree(KnownFolder(FOLDERID_CommonPrograms) + L"\\Tidewater\\Pocket Tides");
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kVictimKey);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
  }

  DWORD Run(const std::wstring& program, const std::wstring& arguments) {
    LaunchOptions options;
    options.arguments = arguments;
    options.environment = {{L"TMP", temp_}, {L"TEMP", temp_}};
    return RunToExit(program, options, 180000);
  }

  // Wine's own reg.exe: its exit code, and what it printed in *output.
  DWORD RegQuery(const std::wstring& arguments, std::string* output = nullptr) {
    const std::wstring file = work_ / L"reg-output.txt";
    DeleteFileW(file.c_str());
    const DWORD code = Run(L"C:\\windows\\system32\\cmd.exe", L"/c reg.exe query " + arguments + L" > \"" + file + L"\"");
    if (output) *output = ReadBytes(file);
    return code;
  }

  std::wstring setup_, programsParent_, folder_, startMenuParent_, startMenu_, temp_;
  ScratchFolder work_;
};

}  // namespace

TEST_F(UserScope, InstallsForTheUserWithoutAdministratorAndUninstallsToTheStateBefore) {
  // Neither program asks Windows for an administrator.
  EXPECT_NE(ProgramManifest(setup_).find("level=\"asInvoker\""), std::string::npos) << ProgramManifest(setup_);
  const auto before = TreeState(UserProgramFiles());
  const auto menuBefore = TreeState(KnownFolder(FOLDERID_Programs));
  const auto commonMenuBefore = TreeState(KnownFolder(FOLDERID_CommonPrograms));
  ASSERT_NE(RegQuery(L"\"HKCU\\" + std::wstring(kKey) + L"\""), 0u) << "an entry from before";

  ASSERT_EQ(Run(setup_, L"/S"), 0u);
  for (const wchar_t* file : {L"\\bin\\tidecharts.exe", L"\\data\\harbours.txt", L"\\README.txt", L"\\Uninst.exe"})
    EXPECT_TRUE(FileExists(folder_ + file)) << Narrow(file);
  EXPECT_NE(ProgramManifest(folder_ + L"\\Uninst.exe").find("level=\"asInvoker\""), std::string::npos);
  // The user's Start menu, both levels; nothing in the all-users one.
  EXPECT_EQ(ShortcutTarget(startMenu_ + L"\\Pocket Tides.lnk"), folder_ + L"\\bin\\tidecharts.exe");
  EXPECT_EQ(TreeState(KnownFolder(FOLDERID_CommonPrograms)), commonMenuBefore);
  // The entry under HKEY_CURRENT_USER, as reg.exe shows it; none for the machine.
  std::string shown;
  EXPECT_EQ(RegQuery(L"\"HKCU\\" + std::wstring(kKey) + L"\" /v DisplayName", &shown), 0u);
  EXPECT_NE(shown.find("Pocket Tides"), std::string::npos) << shown;
  EXPECT_EQ(RegQuery(L"\"HKCU\\" + std::wstring(kKey) + L"\" /v InstallLocation", &shown), 0u);
  EXPECT_NE(shown.find(Narrow(folder_)), std::string::npos) << shown;
  EXPECT_NE(RegQuery(L"\"HKLM\\" + std::wstring(kKey) + L"\""), 0u) << "an entry for the machine";
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, L"UninstallString"), folder_ + L"\\Uninst.exe");
  std::vector<kxcore::UninstallRecord> records;
  ASSERT_EQ(kxcore::ReadUninstallLog(folder_ + L"\\Uninst.dat", &records), kxcore::LogFileStatus::kOk);
  for (const kxcore::UninstallRecord& record : records)
    EXPECT_EQ(record.text.find(L"HKEY_LOCAL_MACHINE"), std::wstring::npos) << Narrow(record.text);

  EXPECT_EQ(Run(folder_ + L"\\Uninst.exe", L"/S"), 0u);
  EXPECT_NE(RegQuery(L"\"HKCU\\" + std::wstring(kKey) + L"\""), 0u) << "the entry stayed";
  EXPECT_EQ((std::vector<std::wstring>{L"Uninst.exe"}), ListFolder(folder_)) << "only the scheduled uninstaller";
  EXPECT_FALSE(FolderExists(startMenuParent_)) << "both Start-menu levels were the package's";
  EXPECT_EQ(TreeState(KnownFolder(FOLDERID_Programs)), menuBefore);
  // What the restart removes: the uninstaller and the folders it made.
  RemoveTree(programsParent_);
  EXPECT_EQ(TreeState(UserProgramFiles()), before);
  EXPECT_TRUE(ListFolder(temp_).empty()) << "runtime folder left in %TEMP%";
}

TEST_F(UserScope, ALogOfTheUserNamingMachineWidePlacesRemovesNothing) {
  ASSERT_EQ(Run(setup_, L"/S"), 0u);
  std::vector<kxcore::UninstallRecord> genuine;
  ASSERT_EQ(kxcore::ReadUninstallLog(folder_ + L"\\Uninst.dat", &genuine), kxcore::LogFileStatus::kOk);
  const std::wstring commonMenu = KnownFolder(FOLDERID_CommonPrograms) + L"\\Tidewater\\Pocket Tides";
  ASSERT_EQ(CreateFolderPath(commonMenu.c_str()), 0u);
  ASSERT_TRUE(WriteBytes(commonMenu + L"\\victim.lnk", "x"));
  HKEY victim = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVictimKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &victim, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(victim);
  // The package's own key in the machine's hive is machine-wide too: a log
  // of the user's installation must not reach it.
  HKEY machineEntry = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &machineEntry, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(machineEntry);

  const kxcore::UninstallRecord machineWide[] = {
      {KX_LOG_FILE, commonMenu + L"\\victim.lnk"},
      {KX_LOG_FOLDER, commonMenu},
      {KX_LOG_REGKEY, std::wstring(L"HKEY_LOCAL_MACHINE\\") + kKey},
      {KX_LOG_REGVALUE, L"\"HKEY_LOCAL_MACHINE\\" + std::wstring(kKey) + L"\" \"DisplayName\""},
      {KX_LOG_REGKEY, std::wstring(L"HKEY_LOCAL_MACHINE\\") + kVictimKey},
  };
  for (const kxcore::UninstallRecord& record : machineWide) {
    std::vector<kxcore::UninstallRecord> forged = genuine;
    forged.push_back(record);
    ASSERT_TRUE(WriteBytes(folder_ + L"\\Uninst.dat", kxcore::FormatUninstallLog(forged)));
    EXPECT_EQ(Run(folder_ + L"\\Uninst.exe", L"/S"), 3u) << Narrow(record.text);
    EXPECT_TRUE(FileExists(folder_ + L"\\bin\\tidecharts.exe")) << Narrow(record.text);
    EXPECT_TRUE(FileExists(commonMenu + L"\\victim.lnk")) << Narrow(record.text);
    EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, L"DisplayName"), L"Pocket Tides") << Narrow(record.text);
    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVictimKey, 0, KEY_READ, &opened), ERROR_SUCCESS);
    if (opened) RegCloseKey(opened);
  }
  // The genuine log still removes the installation.
  ASSERT_TRUE(WriteBytes(folder_ + L"\\Uninst.dat", kxcore::FormatUninstallLog(genuine)));
  EXPECT_EQ(Run(folder_ + L"\\Uninst.exe", L"/S"), 0u);
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, L"DisplayName"), L"<missing>");
  EXPECT_TRUE(FileExists(commonMenu + L"\\victim.lnk"));
}

}  // namespace kxtest

namespace kxtest {

TEST_F(UserScope, AllUsersAskedOfAPackageForTheUserOnlyIsAUsageErrorThatChangesNothing) {
  const auto before = TreeState(UserProgramFiles());
  EXPECT_EQ(Run(setup_, L"/S /SUPPRESSMSGBOXES /ALLUSERS"), 2u);
  EXPECT_EQ(TreeState(UserProgramFiles()), before);
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, L"DisplayName"), L"<missing>");
  // The scope it has is no contradiction.
  ASSERT_EQ(Run(setup_, L"/S /SUPPRESSMSGBOXES /CURRENTUSER"), 0u);
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, L"DisplayName"), L"Pocket Tides");
  EXPECT_EQ(Run(folder_ + L"\\Uninst.exe", L"/S /SUPPRESSMSGBOXES"), 0u);
}

}  // namespace kxtest
