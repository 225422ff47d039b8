// The declarations' records: the uninstaller undoes PATH entries,
// variables and associations only as far as they are still the package's,
// and a log naming any such record the package did not declare is refused.
// On a key of the test's own in HKEY_CURRENT_USER, standing in for the
// environment and classes keys.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/declared_removal.h"
#include "core/declared_scope.h"
#include "core/uninstall_scope.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

using namespace kxcore;

namespace {

class DeclaredRemoval : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::ResetFake();
    base = L"Software\\KxTests\\declared-" + std::to_wstring(GetCurrentProcessId());
    environment = base + L"\\Environment";
    classes = base + L"\\Classes";
    ForgetDeclaredRecords();
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
    ForgetDeclaredRecords();
  }

  void Set(const std::wstring& key, const wchar_t* name, DWORD type, const std::wstring& data) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, type, data.c_str(),
                                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
  }
  // The value's text, "<missing>" when there is none; its type in *type.
  std::wstring Get(const std::wstring& key, const wchar_t* name, DWORD* type = nullptr) {
    wchar_t data[512];
    DWORD size = sizeof data, found = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &found, data, &size) !=
        ERROR_SUCCESS)
      return L"<missing>";
    if (type) *type = found;
    return found == REG_NONE ? L"<none>" : data;
  }
  bool KeyExists(const std::wstring& key) {
    HKEY handle;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
  }
  std::wstring Root(const std::wstring& key) { return L"HKEY_CURRENT_USER\\" + key; }
  int Remove(std::vector<UninstallRecord> records) {
    run.records = std::move(records);
    return RemoveDeclaredEffects(&run, nullptr);
  }

  std::wstring base, environment, classes;
  UninstallRun run;
};

}  // namespace

TEST_F(DeclaredRemoval, PathLosesOnlyItsEntryWhereverItStandsAndKeepsItsType) {
  // Others added entries before and after ours since the installation.
  Set(environment, L"Path", REG_EXPAND_SZ, L"%SystemRoot%\\system32;C:\\Quill\\bin;D:\\Later");
  const std::wstring record = L"\"" + Root(environment) + L"\" \"C:\\Quill\\bin\"";
  EXPECT_EQ(0, Remove({{KX_LOG_PATHENTRY, record}, {KX_LOG_PATHENTRY, record}}));
  DWORD type = 0;
  EXPECT_EQ(L"%SystemRoot%\\system32;D:\\Later", Get(environment, L"Path", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
  // Gone already, or no Path at all: nothing to do, and no error.
  EXPECT_EQ(0, Remove({{KX_LOG_PATHENTRY, record}}));
  EXPECT_EQ(L"%SystemRoot%\\system32;D:\\Later", Get(environment, L"Path"));
  EXPECT_EQ(0, Remove({{KX_LOG_PATHENTRY, L"\"" + Root(base + L"\\Nowhere") + L"\" \"C:\\Quill\\bin\""}}));
}

TEST_F(DeclaredRemoval, AVariableGoesOnlyWhileItHoldsThePackagesValue) {
  Set(environment, L"QUILL_HOME", REG_SZ, L"C:\\Quill");
  Set(environment, L"QUILL_DATA", REG_SZ, L"E:\\moved by the user");
  EXPECT_EQ(0, Remove({{KX_LOG_ENVVAR, L"\"" + Root(environment) + L"\" \"QUILL_HOME\" \"C:\\Quill\""},
                       {KX_LOG_ENVVAR, L"\"" + Root(environment) + L"\" \"QUILL_DATA\" \"C:\\Quill\\data\""}}));
  EXPECT_EQ(L"<missing>", Get(environment, L"QUILL_HOME"));
  EXPECT_EQ(L"E:\\moved by the user", Get(environment, L"QUILL_DATA"));
}

TEST_F(DeclaredRemoval, AnAssociationGoesButAnExtensionTakenOverKeepsItsNewOwner) {
  for (const wchar_t* ext : {L".qmk", L".qmd"}) {
    Set(classes + L"\\" + ext, L"", REG_SZ, L"Quill.doc");
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, (classes + L"\\" + ext + L"\\OpenWithProgids").c_str(),
                                             L"Quill.doc", REG_NONE, nullptr, 0));
  }
  Set(classes + L"\\Quill.doc", L"", REG_SZ, L"Quill document");
  Set(classes + L"\\Quill.doc\\shell\\open\\command", L"", REG_SZ, L"\"C:\\Quill\\quill.exe\" \"%1\"");
  // Another program took .qmd over and lists itself beside us.
  Set(classes + L"\\.qmd", L"", REG_SZ, L"Other.doc");
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, (classes + L"\\.qmd\\OpenWithProgids").c_str(),
                                           L"Other.doc", REG_NONE, nullptr, 0));

  EXPECT_EQ(0, Remove({{KX_LOG_ASSOCIATION, L"\"" + Root(classes + L"\\.qmk") + L"\" \"Quill.doc\""},
                       {KX_LOG_ASSOCIATION, L"\"" + Root(classes + L"\\.qmd") + L"\" \"Quill.doc\""}}));
  EXPECT_FALSE(KeyExists(classes + L"\\Quill.doc"));
  EXPECT_FALSE(KeyExists(classes + L"\\.qmk"));
  EXPECT_EQ(L"Other.doc", Get(classes + L"\\.qmd", L""));
  EXPECT_EQ(L"<missing>", Get(classes + L"\\.qmd\\OpenWithProgids", L"Quill.doc"));
  EXPECT_EQ(L"<none>", Get(classes + L"\\.qmd\\OpenWithProgids", L"Other.doc"));
}

TEST_F(DeclaredRemoval, AForgedLogReachesOnlyWhatTheDeclarationsAllow) {
  kxtest::ScratchFolder root;
  const std::wstring install = root / L"Quill";
  ASSERT_TRUE(CreateDirectoryW(install.c_str(), nullptr));
  const UninstallScope scope = MakeUninstallScope(install + L"\\Uninst.exe", L"",
                                                  L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Q_1");
  const std::wstring env = L"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager\\Environment";
  const UninstallRecord path = {KX_LOG_PATHENTRY, L"\"" + env + L"\" \"" + install + L"\\bin\""};
  const UninstallRecord variable = {KX_LOG_ENVVAR, L"\"" + env + L"\" \"QUILL\" \"" + install + L"\""};
  const UninstallRecord association = {KX_LOG_ASSOCIATION, L"\"HKEY_LOCAL_MACHINE\\Software\\Classes\\.qmk\" \"Q.qmk\""};
  const UninstallRecord value = {KX_LOG_REGVALUE, L"\"HKEY_LOCAL_MACHINE\\Software\\Quill\" \"Dir\""};
  const UninstallRecord key = {KX_LOG_REGKEY, L"HKEY_LOCAL_MACHINE\\Software\\Quill"};
  const std::vector<UninstallRecord> declared = {path, variable, association, value, key};
  for (const UninstallRecord& record : declared) EXPECT_FALSE(RecordInScope(record, scope)) << kxtest::Narrow(record.text);
  for (const UninstallRecord& record : declared) AllowDeclaredRecord(record.kind, record.text);
  for (const UninstallRecord& record : declared) EXPECT_TRUE(RecordInScope(record, scope)) << kxtest::Narrow(record.text);
  // Letter case does not matter; anything else the package did not declare
  // stays out of reach, of every kind.
  EXPECT_TRUE(RecordInScope({KX_LOG_ASSOCIATION, L"\"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.QMK\" \"q.qmk\""}, scope));
  const std::vector<UninstallRecord> forged = {
      {KX_LOG_PATHENTRY, L"\"" + env + L"\" \"C:\\Windows\\system32\""},
      {KX_LOG_PATHENTRY, L"\"HKEY_CURRENT_USER\\Environment\" \"" + install + L"\\bin\""},
      {KX_LOG_ENVVAR, L"\"" + env + L"\" \"QUILL\" \"C:\\other\""},
      {KX_LOG_ENVVAR, L"\"" + env + L"\" \"ComSpec\" \"" + install + L"\""},
      {KX_LOG_ASSOCIATION, L"\"HKEY_LOCAL_MACHINE\\Software\\Classes\\.exe\" \"exefile\""},
      {KX_LOG_REGVALUE, L"\"HKEY_LOCAL_MACHINE\\Software\\Quill\" \"Other\""},
      {KX_LOG_REGVALUE, L"\"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\" \"Dir\""},
      {KX_LOG_REGKEY, L"HKEY_LOCAL_MACHINE\\Software"},
      {KX_LOG_REGKEY, L"HKEY_LOCAL_MACHINE\\Software\\Quill\\Deeper"},
      {7, path.text}};
  for (const UninstallRecord& record : forged) EXPECT_FALSE(RecordInScope(record, scope)) << kxtest::Narrow(record.text);
  std::vector<UninstallRecord> log = declared;
  log.push_back(forged[4]);
  EXPECT_FALSE(ResolveRecordsInScope(&log, scope));
}

TEST_F(DeclaredRemoval, ATakenFileTypeGoesBackToItsEarlierOwnerWhileThatIsStillRegistered) {
  // .qa was Other.A's, still registered; .qb was Gone.B's, uninstalled
  // since; .qc was Other.C's, and a third program has taken it since.
  for (const wchar_t* ext : {L".qa", L".qb"}) Set(classes + L"\\" + ext, L"", REG_SZ, L"Quill.doc");
  Set(classes + L"\\.qc", L"", REG_SZ, L"Third.doc");
  Set(classes + L"\\Other.A", L"", REG_SZ, L"Other's file");
  Set(classes + L"\\Quill.doc", L"", REG_SZ, L"Quill document");
  auto taken = [&](const wchar_t* ext, const wchar_t* owner) {
    return UninstallRecord{KX_LOG_ASSOCIATIONTAKEN,
                           L"\"" + Root(classes + L"\\" + ext) + L"\" \"Quill.doc\" \"" + owner + L"\""};
  };
  EXPECT_EQ(0, Remove({taken(L".qa", L"Other.A"), taken(L".qb", L"Gone.B"), taken(L".qc", L"Other.C")}));
  EXPECT_EQ(L"Other.A", Get(classes + L"\\.qa", L""));
  EXPECT_FALSE(KeyExists(classes + L"\\.qb"));
  EXPECT_EQ(L"Third.doc", Get(classes + L"\\.qc", L""));
  EXPECT_FALSE(KeyExists(classes + L"\\Quill.doc"));
  EXPECT_TRUE(KeyExists(classes + L"\\Other.A"));
}

TEST_F(DeclaredRemoval, ATakenFileTypeIsAllowedOnlyAsTheDeclaredAssociationWithAProgIdAsItsOwner) {
  const UninstallScope scope = MakeUninstallScope(L"C:\\Quill\\Uninst.exe", L"",
                                                  L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Q_1");
  const std::wstring ext = L"\"HKEY_LOCAL_MACHINE\\Software\\Classes\\.qmk\" \"Q.qmk\"";
  AllowDeclaredRecord(KX_LOG_ASSOCIATION, ext);
  for (const wchar_t* owner : {L"txtfile", L"Word.Document.12", L"7-Zip.zip", L"Notepad++_file"})
    EXPECT_TRUE(RecordInScope({KX_LOG_ASSOCIATIONTAKEN, ext + L" \"" + owner + L"\""}, scope)) << kxtest::Narrow(owner);
  EXPECT_TRUE(RecordInScope(
      {KX_LOG_ASSOCIATIONTAKEN, L"\"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.QMK\" \"q.qmk\" \"txtfile\""}, scope));
  // An owner that is no ProgID (a key path, an extension, a quote, nothing),
  // or a file type the package does not declare.
  for (const wchar_t* owner : {L"Software\\Classes\\exefile", L".exe", L"a\" \"b", L"", L"x y"})
    EXPECT_FALSE(RecordInScope({KX_LOG_ASSOCIATIONTAKEN, ext + L" \"" + owner + L"\""}, scope)) << kxtest::Narrow(owner);
  EXPECT_FALSE(RecordInScope(
      {KX_LOG_ASSOCIATIONTAKEN, L"\"HKEY_LOCAL_MACHINE\\Software\\Classes\\.exe\" \"Q.qmk\" \"txtfile\""}, scope));
  EXPECT_FALSE(RecordInScope({KX_LOG_ASSOCIATIONTAKEN, ext}, scope)) << "no owner";
}

TEST(DeclaredRecords, SplitIntoKeyAndParts) {
  std::wstring key, first, second;
  ASSERT_TRUE(SplitDeclaredRecord(L"\"HKCU\\Environment\" \"N\" \"a \" \"b\"", KX_LOG_ENVVAR, &key, &first, &second));
  EXPECT_EQ(L"HKCU\\Environment", key);
  EXPECT_EQ(L"N", first);
  EXPECT_EQ(L"a \" \"b", second);
  ASSERT_TRUE(SplitDeclaredRecord(L"\"HKCU\\Environment\" \"C:\\a \"b\"\"", KX_LOG_PATHENTRY, &key, &first, &second));
  EXPECT_EQ(L"C:\\a \"b\"", first);
  for (const wchar_t* bad : {L"", L"\"\" \"x\"", L"\"K\" \"\"", L"\"K\"", L"K \"x\"", L"\"K\" \"x"})
    EXPECT_FALSE(SplitDeclaredRecord(bad, KX_LOG_PATHENTRY, &key, &first, &second)) << kxtest::Narrow(bad);
  EXPECT_FALSE(SplitDeclaredRecord(L"\"K\" \"N\"", KX_LOG_ENVVAR, &key, &first, &second));
}
