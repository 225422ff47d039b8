// Taking over an earlier installation on a reinstall: which of its records
// the new uninstall log keeps, and which deletions pending at the next
// restart are withdrawn.
#include <gtest/gtest.h>

#include "core/declared_scope.h"
#include "core/pending_deletions.h"
#include "core/previous_installation.h"
#include "core/uninstall_log.h"
#include "tests/support/test_files.h"

using namespace kxcore;

namespace {

bool Under(const std::wstring& path, const std::wstring& folder) {
  return path.compare(0, folder.size(), folder) == 0;
}

}  // namespace

TEST(PreviousInstallation, KeepsOnlyRecordsOfThePackageThatStillExist) {
  kxtest::ScratchFolder scratch;
  const std::wstring folder = scratch / L"App", menu = scratch / L"Programs";
  const std::wstring key = L"Software\\KxTests\\Uninstall\\Pkg";
  for (const std::wstring& made :
       {folder, folder + L"\\docs", folder + L"Twin", menu, menu + L"\\App", scratch / L"Other"})
    ASSERT_TRUE(CreateDirectoryW(made.c_str(), nullptr));
  for (const std::wstring& file :
       {folder + L"\\a.txt", folder + L"Twin\\c.txt", scratch / L"Other\\b.txt", menu + L"\\App\\App.lnk"})
    ASSERT_TRUE(kxtest::WriteBytes(file, "x"));
  HKEY opened = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                           &opened, nullptr));
  RegSetValueExW(opened, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"P"), 4);
  RegCloseKey(opened);

  const std::wstring hklmKey = L"HKEY_LOCAL_MACHINE\\" + key;
  const std::vector<UninstallRecord> earlier = {
      {kRecordFolder, folder},
      {kRecordFolder, folder + L"/docs\\"},                            // not as the installation writes it
      {kRecordFile, folder + L"\\a.txt"},
      {kRecordFile, folder + L"\\gone.txt"},                           // no longer there
      {kRecordFile, scratch / L"Other\\b.txt"},                        // outside the package
      {kRecordFile, folder + L"Twin\\c.txt"},                          // a sibling folder's name
      {kRecordFolder, menu},                                           // the Start-menu root itself
      {kRecordFolder, menu + L"\\App"},
      {kRecordFile, menu + L"\\App\\App.lnk"},
      {kRecordRegistryValue, L"\"" + hklmKey + L"\" \"DisplayName\""},
      {kRecordRegistryValue, L"\"" + hklmKey + L"\" \"Gone\""},
      {kRecordRegistryKey, hklmKey},
      {kRecordRegistryKey, L"HKEY_LOCAL_MACHINE\\Software\\KxTests"},  // above the package's key
  };
  const std::vector<UninstallRecord> expected = {earlier[0], earlier[2], earlier[7], earlier[8], earlier[9],
                                                 earlier[11]};
  EXPECT_EQ(expected, SurvivingRecords(earlier, MakeUninstallScope(folder + L"\\Uninst.exe", menu, key)));
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\KxTests\\Uninstall");
}

TEST(PreviousInstallation, TheDeclarationsRecordsAreCarriedOverOnceAndATakenFileTypeKeepsItsEarlierOwner) {
  kxtest::ScratchFolder scratch;
  const std::wstring folder = scratch / L"App";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring base = L"Software\\KxTests\\carried-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring env = L"HKEY_CURRENT_USER\\" + base + L"\\Environment";
  const std::wstring classes = L"HKEY_CURRENT_USER\\" + base + L"\\Classes";
  auto set = [&](const std::wstring& key, const wchar_t* name, const std::wstring& data) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, (base + key).c_str(), name, REG_SZ, data.c_str(),
                                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
  };
  const std::wstring bin = folder + L"\\bin";
  set(L"\\Environment", L"Path", L"C:\\Before;" + bin);
  set(L"\\Environment", L"APP_HOME", folder);
  set(L"\\Environment", L"APP_DATA", L"changed by the user");
  for (const wchar_t* ext : {L"\\Classes\\.one", L"\\Classes\\.two"}) set(ext, nullptr, L"App.Doc");
  set(L"\\Classes\\App.Doc", nullptr, L"App document");

  auto path = [&](const std::wstring& entry) { return UninstallRecord{kRecordPathEntry, L"\"" + env + L"\" \"" + entry + L"\""}; };
  auto variable = [&](const wchar_t* name, const std::wstring& value) {
    return UninstallRecord{kRecordVariable, L"\"" + env + L"\" \"" + name + L"\" \"" + value + L"\""};
  };
  auto association = [&](const wchar_t* ext, const wchar_t* progId) {
    return UninstallRecord{kRecordAssociation, L"\"" + classes + L"\\" + ext + L"\" \"" + progId + L"\""};
  };
  auto taken = [&](const wchar_t* ext, const wchar_t* owner) {
    return UninstallRecord{kRecordAssociationTaken,
                           L"\"" + classes + L"\\" + ext + L"\" \"App.Doc\" \"" + owner + L"\""};
  };
  // What the new package declares, named as setup names it.
  ForgetDeclaredRecords();
  for (const UninstallRecord& record : {path(bin), variable(L"APP_HOME", folder), variable(L"APP_DATA", folder),
                                        association(L".one", L"App.Doc"), association(L".two", L"App.Doc"),
                                        association(L".old", L"Old.Doc")})
    AllowDeclaredRecord(record.kind, record.text);

  const std::vector<UninstallRecord> earlier = {
      path(bin),
      path(folder + L"\\gone"),                    // no longer in Path
      path(L"C:\\Before"),                          // not the package's
      variable(L"APP_HOME", folder),
      variable(L"APP_DATA", folder),                // changed since: the user's now
      taken(L".one", L"Other.One"),                 // taken from its owner by the earlier run
      association(L".two", L"App.Doc"),
      association(L".old", L"Old.Doc"),             // neither the extension nor the ProgID left
  };
  ASSERT_TRUE(kxtest::WriteBytes(folder + L"\\Uninst.dat", FormatUninstallLog(earlier)));
  RememberEarlierInstallation(folder);
  BeginUninstallLog();
  // This run's: the extensions named us already, and .two had been taken by
  // another program in between, which this run took it back from.
  for (const UninstallRecord& record : {path(bin), variable(L"APP_HOME", folder), association(L".one", L"App.Doc"),
                                        taken(L".two", L"Between.Two")})
    AddUninstallRecord(record.kind, record.text.c_str());
  const UninstallScope scope = MakeUninstallScope(folder + L"\\Uninst.exe", L"", base + L"\\Uninstall\\App",
                                                  L"HKEY_CURRENT_USER");
  AdoptEarlierInstallation(folder, scope, scratch / L"wininit.ini");
  const std::vector<UninstallRecord> expected = {taken(L".one", L"Other.One"), path(bin), variable(L"APP_HOME", folder),
                                                 taken(L".two", L"Between.Two")};
  EXPECT_EQ(expected, UninstallLogRecords());
  DiscardUninstallLog();
  ForgetDeclaredRecords();
  RememberEarlierInstallation(L"");
  RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
}

// An earlier log far larger than the buffers it goes through (about 3 MB):
// read a record at a time into a temporary file, its survivors keep their
// order and go in front once, and the same log cut short keeps nothing.
TEST(PreviousInstallation, ALargeEarlierLogIsTakenOverRecordByRecord) {
  kxtest::ScratchFolder scratch;
  const std::wstring folder = scratch / L"App";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((folder + L"\\kept").c_str(), nullptr));
  std::vector<UninstallRecord> earlier = {{kRecordFolder, folder}, {kRecordFolder, folder + L"\\kept"}};
  std::vector<std::wstring> standing;
  for (int i = 0; i < 40; ++i) {
    standing.push_back(folder + L"\\kept\\file " + std::to_wstring(i) + L".txt");
    ASSERT_TRUE(kxtest::WriteBytes(standing.back(), "x"));
  }
  // Gone files of the earlier version between the standing ones, and each
  // standing one named twice.
  for (int i = 0; i < 24000; ++i) {
    earlier.push_back({kRecordFile, folder + L"\\gone\\a file the earlier version had " + std::to_wstring(i) + L".txt"});
    if (i % 300 == 0) earlier.push_back({kRecordFile, standing[(i / 300) % standing.size()]});
  }
  const std::string log = FormatUninstallLog(earlier);
  ASSERT_GT(log.size(), 2000000u);
  ASSERT_TRUE(kxtest::WriteBytes(folder + L"\\Uninst.dat", log));

  BeginUninstallLog();
  RememberEarlierInstallation(folder);
  // This run made the first half of the standing files again.
  for (int i = 0; i < 20; ++i) AddUninstallRecord(kRecordFile, standing[i].c_str());
  const UninstallScope scope = MakeUninstallScope(folder + L"\\Uninst.exe", L"", L"Software\\KxTests\\Uninstall\\Big");
  AdoptEarlierInstallation(folder, scope, scratch / L"wininit.ini");
  std::vector<UninstallRecord> expected = {{kRecordFolder, folder}, {kRecordFolder, folder + L"\\kept"}};
  for (int i = 20; i < 40; ++i) expected.push_back({kRecordFile, standing[i]});
  for (int i = 0; i < 20; ++i) expected.push_back({kRecordFile, standing[i]});
  EXPECT_EQ(expected, UninstallLogRecords());
  DiscardUninstallLog();

  ASSERT_TRUE(kxtest::WriteBytes(folder + L"\\Uninst.dat", log.substr(0, log.size() - 3)));
  BeginUninstallLog();
  RememberEarlierInstallation(folder);
  AddUninstallRecord(kRecordFile, standing[0].c_str());
  AdoptEarlierInstallation(folder, scope, scratch / L"wininit.ini");
  EXPECT_EQ((std::vector<UninstallRecord>{{kRecordFile, standing[0]}}), UninstallLogRecords());
  DiscardUninstallLog();
  RememberEarlierInstallation(L"");
}

TEST(PendingDeletions, OnlyTheNeededDeletionsAreWithdrawnFromEitherList) {
  auto needed = [](const std::wstring& path) { return Under(path, L"C:\\App"); };
  const std::wstring block = std::wstring(L"\\??\\C:\\App\\Uninst.exe") + L'\0' + L'\0' + L"\\??\\C:\\Else\\x" +
                             L'\0' + L'\0' + L"\\??\\C:\\App\\old" + L'\0' + L"!\\??\\C:\\App\\new" + L'\0' +
                             L"\\??\\C:\\App" + L'\0' + L'\0';
  std::vector<std::wstring> withdrawn;
  const std::wstring kept = WithoutPendingDeletions(block, needed, &withdrawn);
  // A rename into the installation is not a deletion and stays.
  EXPECT_EQ(std::wstring(L"\\??\\C:\\Else\\x") + L'\0' + L'\0' + L"\\??\\C:\\App\\old" + L'\0' +
                L"!\\??\\C:\\App\\new" + L'\0',
            kept);
  EXPECT_EQ((std::vector<std::wstring>{L"C:\\App\\Uninst.exe", L"C:\\App"}), withdrawn);

  withdrawn.clear();
  const std::string list = "[Other]\r\nNUL=C:\\App\\a\r\n[Rename]\r\nnul=C:\\App\\b\r\nC:\\App\\c=C:\\d\r\n"
                           "NUL=C:\\Else\\e\r\n[rename]\r\nNUL=C:\\App\\f\r\n";
  EXPECT_EQ("[Other]\r\nNUL=C:\\App\\a\r\n[Rename]\r\nC:\\App\\c=C:\\d\r\nNUL=C:\\Else\\e\r\n[rename]\r\n",
            WithoutRenameListDeletions(list, needed, &withdrawn));
  EXPECT_EQ((std::vector<std::wstring>{L"C:\\App\\b", L"C:\\App\\f"}), withdrawn);
}
