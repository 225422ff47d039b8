// What a forged or damaged uninstall log may not make the uninstaller
// remove, judged on real folders (short names, letter case).
#include <gtest/gtest.h>

#include <string>

#include "core/kxcore.h"
#include "core/declared_scope.h"
#include "core/uninstall_scope.h"
#include "tests/support/test_files.h"

using namespace kxcore;
using kxtest::ScratchFolder;

namespace {

constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quill812953";

class UninstallScopeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    install = root / L"Program Files\\Quill Toolkit";
    startMenu = root / L"Start Menu\\Programs";
    for (const std::wstring& folder : {root / L"Program Files", install, install + L"\\docs", root / L"Start Menu",
                                       startMenu, startMenu + L"\\Quill", root / L"Elsewhere"})
      ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << kxtest::Narrow(folder);
    scope = MakeUninstallScope(install + L"\\Uninst.exe", startMenu, kKey);
  }

  bool Allowed(int kind, const std::wstring& text) { return RecordInScope({kind, text}, scope); }

  ScratchFolder root;
  std::wstring install, startMenu;
  UninstallScope scope;
};

}  // namespace

TEST_F(UninstallScopeTest, FilesAndFoldersOnlyInTheInstallationAndItsStartMenuFolder) {
  for (const std::wstring& file : {install + L"\\app.exe", install + L"\\docs\\new\\x.txt", startMenu + L"\\Quill\\a.lnk",
                                   startMenu + L"\\Not Yet\\b.lnk"})
    EXPECT_TRUE(Allowed(KX_LOG_FILE, file)) << kxtest::Narrow(file);
  for (const std::wstring& folder : {install, install + L"\\docs", startMenu + L"\\Quill", root / L"Program Files"})
    EXPECT_TRUE(Allowed(KX_LOG_FOLDER, folder)) << kxtest::Narrow(folder);

  for (const std::wstring& file : {root / L"Elsewhere\\x.txt", std::wstring(L"C:\\windows\\win.ini"), install,
                                   startMenu + L"\\direct.lnk", root / L"Program Files\\other.exe",
                                   install + L" Two\\x.exe"})
    EXPECT_FALSE(Allowed(KX_LOG_FILE, file)) << kxtest::Narrow(file);
  // The programs folder itself, a sibling of the installation, a drive root.
  for (const std::wstring& folder : {startMenu, root / L"Elsewhere", std::wstring(L"C:\\"), install + L" Two"})
    EXPECT_FALSE(Allowed(KX_LOG_FOLDER, folder)) << kxtest::Narrow(folder);
}

TEST_F(UninstallScopeTest, UnnormalPathsAreRefusedEvenInside) {
  for (const std::wstring& text :
       {L"\\\\?\\" + install + L"\\app.exe", L"\\\\.\\" + install + L"\\app.exe", install + L"\\docs\\..\\app.exe",
        install + L"\\.\\app.exe", install + L"\\\\app.exe", install + L"/app.exe", install + L"\\app.exe.",
        install + L"\\app.exe ", install + L"\\app.exe:stream", install + L"\\*.exe", install + L"\\NUL",
        install + L"\\com1.txt", std::wstring(L"Quill Toolkit\\app.exe"), std::wstring(L"\\app.exe"),
        install + L"\\", std::wstring(L"")})
    EXPECT_FALSE(Allowed(KX_LOG_FILE, text)) << kxtest::Narrow(text);
}

TEST_F(UninstallScopeTest, ShortNamesAndLetterCaseAreResolvedBeforeJudging) {
  wchar_t shortInstall[MAX_PATH];
  ASSERT_GT(GetShortPathNameW(install.c_str(), shortInstall, MAX_PATH), 0u);
  ASSERT_NE(install, shortInstall);
  EXPECT_TRUE(Allowed(KX_LOG_FILE, std::wstring(shortInstall) + L"\\app.exe"));
  std::wstring upper = install;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  EXPECT_TRUE(Allowed(KX_LOG_FILE, upper + L"\\APP.EXE"));
  // The same holds for the uninstaller's own path.
  UninstallScope fromShort = MakeUninstallScope(std::wstring(shortInstall) + L"\\Uninst.exe", startMenu, kKey);
  EXPECT_TRUE(RecordInScope({KX_LOG_FILE, install + L"\\app.exe"}, fromShort));
  EXPECT_FALSE(RecordInScope({KX_LOG_FILE, root / L"Elsewhere\\x.txt"}, fromShort));
}

TEST_F(UninstallScopeTest, RegistryOnlyBelowThePackagesOwnKeyInTheMachineHive) {
  const std::wstring key = std::wstring(L"HKEY_LOCAL_MACHINE\\") + kKey;
  EXPECT_TRUE(Allowed(KX_LOG_REGKEY, key));
  EXPECT_TRUE(Allowed(KX_LOG_REGKEY, std::wstring(L"HKLM\\") + kKey + L"\\Sub"));
  EXPECT_TRUE(Allowed(KX_LOG_REGVALUE, L"\"" + key + L"\" \"DisplayName\""));
  for (const std::wstring& text :
       {std::wstring(L"HKEY_CURRENT_USER\\") + kKey, key + L"0", key.substr(0, key.rfind(L'\\')),
        std::wstring(L"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"), key + L"\\",
        key + L"\\\\Sub", std::wstring(L"HKEY_LOCAL_MACHINE\\\\") + kKey})
    EXPECT_FALSE(Allowed(KX_LOG_REGKEY, text)) << kxtest::Narrow(text);
  EXPECT_FALSE(Allowed(KX_LOG_REGVALUE, L"\"HKEY_LOCAL_MACHINE\\Software\\Classes\" \"x\""));

  // Without a key of its own the uninstaller removes no registry entry at all.
  for (const wchar_t* none : {L"", L"Software", L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"}) {
    UninstallScope keyless = MakeUninstallScope(install + L"\\Uninst.exe", startMenu, none);
    EXPECT_FALSE(RecordInScope({KX_LOG_REGKEY, L"HKEY_LOCAL_MACHINE\\Software"}, keyless)) << kxtest::Narrow(none);
  }
}

TEST_F(UninstallScopeTest, ACurrentUserLogNamesOnlyTheUsersHiveAndPlaces) {
  // The user's installation: its Start menu is the user's (the programs
  // point COMPROGMENUDIR at it), its hive HKEY_CURRENT_USER.
  const std::wstring userMenu = root / L"User Start Menu";
  ASSERT_TRUE(CreateDirectoryW(userMenu.c_str(), nullptr));
  UninstallScope user = MakeUninstallScope(install + L"\\Uninst.exe", userMenu, kKey, L"HKEY_CURRENT_USER");
  EXPECT_TRUE(user.currentUser);
  const std::wstring userKey = std::wstring(L"HKEY_CURRENT_USER\\") + kKey;
  for (const std::wstring& text : {userKey, std::wstring(L"HKCU\\") + kKey + L"\\Sub"})
    EXPECT_TRUE(RecordInScope({KX_LOG_REGKEY, text}, user)) << kxtest::Narrow(text);
  EXPECT_TRUE(RecordInScope({KX_LOG_REGVALUE, L"\"" + userKey + L"\" \"DisplayName\""}, user));
  EXPECT_TRUE(RecordInScope({KX_LOG_FILE, userMenu + L"\\Quill\\a.lnk"}, user));
  // Machine-wide places: the machine's hive with the very same key, the
  // other hives, and the all-users Start menu.
  for (const std::wstring& text : {std::wstring(L"HKEY_LOCAL_MACHINE\\") + kKey, std::wstring(L"HKLM\\") + kKey,
                                   std::wstring(L"HKEY_USERS\\.DEFAULT\\") + kKey,
                                   std::wstring(L"HKEY_CLASSES_ROOT\\") + kKey})
    EXPECT_FALSE(RecordInScope({KX_LOG_REGKEY, text}, user)) << kxtest::Narrow(text);
  EXPECT_FALSE(
      RecordInScope({KX_LOG_REGVALUE, L"\"HKEY_LOCAL_MACHINE\\" + std::wstring(kKey) + L"\" \"DisplayName\""}, user));
  EXPECT_FALSE(RecordInScope({KX_LOG_FILE, startMenu + L"\\Quill\\a.lnk"}, user));
  EXPECT_FALSE(RecordInScope({KX_LOG_FOLDER, startMenu + L"\\Quill"}, user));
  // And an installation for all users names nothing of the user's hive,
  // whatever its root variable holds besides the user's.
  for (const wchar_t* machine : {L"", L"HKEY_LOCAL_MACHINE", L"HKCU", L"hkey_current_user "}) {
    UninstallScope all = MakeUninstallScope(install + L"\\Uninst.exe", startMenu, kKey, machine);
    EXPECT_FALSE(all.currentUser) << kxtest::Narrow(machine);
    EXPECT_FALSE(RecordInScope({KX_LOG_REGKEY, userKey}, all)) << kxtest::Narrow(machine);
    EXPECT_TRUE(RecordInScope({KX_LOG_REGKEY, std::wstring(L"HKEY_LOCAL_MACHINE\\") + kKey}, all));
  }
}

TEST(UninstallRecordPaths, AreRecordedInTheirNormalForm) {
  EXPECT_EQ(L"C:\\Tools\\Quill", NormalRecordPath(L"C:/Tools/Quill/"));
  EXPECT_EQ(L"C:\\Tools\\Quill\\a.txt", NormalRecordPath(L"C:\\Tools\\x\\..\\Quill\\.\\a.txt"));
  EXPECT_EQ(L"C:\\", NormalRecordPath(L"C:\\"));
  EXPECT_EQ(L"relative\\a.txt", NormalRecordPath(L"relative\\a.txt"));
}

// The whole log is resolved folder by folder; every record must come out as
// ResolvePath resolves it on its own, whatever form the log wrote it in.
TEST_F(UninstallScopeTest, ResolvingAWholeLogGivesWhatEachRecordResolvesTo) {
  ASSERT_TRUE(kxtest::WriteBytes(install + L"\\Long Name File.txt", "x"));
  ASSERT_TRUE(kxtest::WriteBytes(install + L"\\docs\\a.txt", "x"));
  wchar_t shortFile[MAX_PATH], shortDocs[MAX_PATH];
  ASSERT_GT(GetShortPathNameW((install + L"\\Long Name File.txt").c_str(), shortFile, MAX_PATH), 0u);
  ASSERT_GT(GetShortPathNameW((install + L"\\docs").c_str(), shortDocs, MAX_PATH), 0u);
  std::wstring upper = install + L"\\DOCS\\A.TXT";
  std::vector<UninstallRecord> records = {
      {KX_LOG_FOLDER, install},        {KX_LOG_FOLDER, install + L"\\DOCS"}, {KX_LOG_FILE, install + L"\\docs\\a.txt"},
      {KX_LOG_FILE, upper},            {KX_LOG_FILE, shortFile},             {KX_LOG_FILE, std::wstring(shortDocs) + L"\\a.txt"},
      {KX_LOG_FILE, install + L"\\gone.txt"}, {KX_LOG_FILE, install + L"\\new\\x.txt"},
      {KX_LOG_FOLDER, root / L"Program Files"}, {KX_LOG_REGKEY, std::wstring(L"HKLM\\") + kKey}};
  std::vector<UninstallRecord> expected = records;
  for (UninstallRecord& record : expected)
    if (record.kind != KX_LOG_REGKEY) record.text = ResolvePath(record.text);
  EXPECT_EQ(install + L"\\docs\\a.txt", expected[3].text) << "the case is the file system's";
  EXPECT_EQ(install + L"\\Long Name File.txt", expected[4].text) << "short names are expanded";

  ASSERT_TRUE(ResolveRecordsInScope(&records, scope));
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(expected[i].text, records[i].text) << i;

  // One record out of scope refuses the whole log and leaves it as it was.
  std::vector<UninstallRecord> forged = {{KX_LOG_FILE, shortFile}, {KX_LOG_FILE, root / L"Elsewhere\\x.txt"}};
  EXPECT_FALSE(ResolveRecordsInScope(&forged, scope));
  EXPECT_EQ(std::wstring(shortFile), forged[0].text);
}

// A shortcut the declarations put on the desktop lies outside every folder
// the installation owns: it is removed only under the exact name the
// uninstaller allowed from its package data, however the log spells the
// path, and a log naming any other desktop file is refused whole.
TEST_F(UninstallScopeTest, ADesktopFileOnlyByTheExactNameTheDeclarationsAllow) {
  const std::wstring desktop = root / L"Public Desktop";
  ASSERT_TRUE(CreateDirectoryW(desktop.c_str(), nullptr));
  for (const wchar_t* name : {L"\\Quill Toolkit.lnk", L"\\Other.lnk"})
    ASSERT_TRUE(kxtest::WriteBytes(desktop + name, "x"));
  const std::wstring ours = desktop + L"\\Quill Toolkit.lnk";
  EXPECT_FALSE(Allowed(KX_LOG_FILE, ours)) << "nothing on the desktop without the declarations";

  AllowDeclaredRecord(KX_LOG_FILE, ours);
  wchar_t shortName[MAX_PATH];
  ASSERT_GT(GetShortPathNameW(ours.c_str(), shortName, MAX_PATH), 0u);
  for (const std::wstring& same : {ours, desktop + L"\\QUILL TOOLKIT.LNK", std::wstring(shortName)})
    EXPECT_TRUE(Allowed(KX_LOG_FILE, same)) << kxtest::Narrow(same);
  for (const std::wstring& other : {desktop + L"\\Other.lnk", desktop + L"\\Quill Toolkit.lnk\\..\\Other.lnk",
                                    desktop + L"\\Quill Toolkit.lnk.", desktop + L"\\Quill Toolkit.lnk:x"})
    EXPECT_FALSE(Allowed(KX_LOG_FILE, other)) << kxtest::Narrow(other);
  // Allowed as a file only: never the desktop itself, nor a folder of that name.
  EXPECT_FALSE(Allowed(KX_LOG_FOLDER, desktop));
  EXPECT_FALSE(Allowed(KX_LOG_FOLDER, ours));

  std::vector<UninstallRecord> log = {{KX_LOG_FILE, install + L"\\app.exe"}, {KX_LOG_FILE, desktop + L"\\quill toolkit.lnk"}};
  EXPECT_TRUE(ResolveRecordsInScope(&log, scope));
  EXPECT_EQ(ours, log[1].text);
  std::vector<UninstallRecord> forged = {{KX_LOG_FILE, ours}, {KX_LOG_FILE, desktop + L"\\Other.lnk"}};
  EXPECT_FALSE(ResolveRecordsInScope(&forged, scope));

  // An allowance that is no normal path allows nothing.
  ForgetDeclaredRecords();
  AllowDeclaredRecord(KX_LOG_FILE, L"Quill Toolkit.lnk");
  AllowDeclaredRecord(KX_LOG_FILE, desktop + L"\\..\\Elsewhere\\x.lnk");
  EXPECT_FALSE(Allowed(KX_LOG_FILE, ours));
  EXPECT_FALSE(Allowed(KX_LOG_FILE, root / L"Elsewhere\\x.lnk"));
  ForgetDeclaredRecords();
}
