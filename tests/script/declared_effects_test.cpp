// The declarations as setup carries them out, for the current user (the
// scope the end-to-end runs, all users, cannot show): the package data
// lines read as the launcher reads them, every effect in the user's
// registry, every record setup logs one the uninstaller allows for the
// same declarations, and the rollback bringing the user's registry back.
#include "script/declared_effects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "extract/install_journal.h"
#include "launcher/package_declarations.h"
#include "script/install_rollback.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

namespace {

using namespace kxtest;

std::vector<LogRecord> g_allowed;
void Allow(int kind, const wchar_t* text) { g_allowed.push_back({kind, text}); }

bool Store(PackageDeclarations* declarations, const std::string& line) {
  const size_t equals = line.find('=');
  return StorePackageDeclarationValue(line.c_str(), equals, line.c_str() + equals + 1, line.size() - equals - 1,
                                      declarations);
}

std::wstring Read(HKEY root, const std::wstring& key, const wchar_t* name, DWORD* type = nullptr) {
  wchar_t data[4096];
  DWORD size = sizeof data, found = 0;
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &found, data, &size) != ERROR_SUCCESS)
    return L"<missing>";
  if (type) *type = found;
  return found == REG_NONE ? L"<none>" : data;
}

class DeclaredEffects : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFake();
    g_allowed.clear();
    declarations_ = new PackageDeclarations;
    ClearPackageDeclarations(declarations_);
    product_ = L"Software\\KxTests\\Declared" + std::to_wstring(GetCurrentProcessId());
    const std::string product(product_.begin(), product_.end());
    for (const std::string& line :
         {std::string("association.1.extension=.kxdecltest"), std::string("association.1.progid=KxTests.DeclTest"),
          std::string("association.1.program=bin\\tool.exe"), std::string("association.1.description=Test file"),
          std::string("path.1.folder=bin"), std::string("environment.1.name=KXDECLTEST_HOME"),
          std::string("environment.1.value={install_folder}"), "registry.1.key=HKA\\" + product,
          std::string("registry.1.name=Dir"), std::string("registry.1.type=string"),
          std::string("registry.1.data={install_folder}\\data"), std::string("registry.1.uninstall=remove"),
          "registry.2.key=HKA\\" + product, std::string("registry.2.name=Kept"), std::string("registry.2.type=dword"),
          std::string("registry.2.data=7"), std::string("registry.2.uninstall=keep")})
      ASSERT_TRUE(Store(declarations_, line)) << line;
    ASSERT_TRUE(CompletePackageDeclarations(declarations_));
    pathBefore_ = Read(HKEY_CURRENT_USER, L"Environment", L"Path", &pathType_);
    folder_ = work_ / L"Tool";
  }
  void TearDown() override {
    ClearInstallJournal();
    RegDeleteTreeW(HKEY_CURRENT_USER, product_.c_str());
    for (const wchar_t* key : {L"Software\\Classes\\.kxdecltest", L"Software\\Classes\\KxTests.DeclTest"})
      RegDeleteTreeW(HKEY_CURRENT_USER, key);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Environment", L"KXDECLTEST_HOME");
    if (pathBefore_ == L"<missing>")
      RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Environment", L"Path");
    else
      RegSetKeyValueW(HKEY_CURRENT_USER, L"Environment", L"Path", pathType_, pathBefore_.c_str(),
                      static_cast<DWORD>((pathBefore_.size() + 1) * sizeof(wchar_t)));
    delete declarations_;
  }

  PackageDeclarations* declarations_ = nullptr;
  ScratchFolder work_;
  std::wstring product_, folder_, pathBefore_;
  DWORD pathType_ = REG_EXPAND_SZ;
};

}  // namespace

TEST_F(DeclaredEffects, ForTheCurrentUserEverythingGoesToTheUsersRegistryAndIsLoggedAsTheUninstallerAllowsIt) {
  StartInstallJournal();
  ASSERT_EQ(0u, ApplyDeclaredEffects(*declarations_, folder_.c_str(), DeclScope::kCurrentUser));

  EXPECT_EQ(folder_ + L"\\data", Read(HKEY_CURRENT_USER, product_, L"Dir"));
  EXPECT_EQ(L"<missing>", Read(HKEY_LOCAL_MACHINE, product_, L"Dir"));
  EXPECT_EQ(folder_, Read(HKEY_CURRENT_USER, L"Environment", L"KXDECLTEST_HOME"));
  const std::wstring path = Read(HKEY_CURRENT_USER, L"Environment", L"Path");
  EXPECT_EQ(folder_ + L"\\bin", path.substr(path.size() - folder_.size() - 4)) << Narrow(path);
  EXPECT_EQ(L"KxTests.DeclTest", Read(HKEY_CURRENT_USER, L"Software\\Classes\\.kxdecltest", L""));
  EXPECT_EQ(L"\"" + folder_ + L"\\bin\\tool.exe\" \"%1\"",
            Read(HKEY_CURRENT_USER, L"Software\\Classes\\KxTests.DeclTest\\shell\\open\\command", L""));
  EXPECT_EQ(L"<none>", Read(HKEY_CURRENT_USER, L"Software\\Classes\\.kxdecltest\\OpenWithProgids", L"KxTests.DeclTest"));

  // Whatever setup logs, the uninstaller of the same package allows; the
  // value to keep is not logged at all.
  ForEachDeclaredRecord(*declarations_, folder_.c_str(), DeclScope::kCurrentUser, Allow);
  ASSERT_FALSE(Fake().log.empty());
  for (const LogRecord& record : Fake().log) {
    EXPECT_NE(std::find(g_allowed.begin(), g_allowed.end(), record), g_allowed.end()) << Narrow(record.text);
    EXPECT_EQ(record.text.find(L"Kept"), std::wstring::npos) << Narrow(record.text);
    EXPECT_EQ(record.text.find(L"HKEY_LOCAL_MACHINE"), std::wstring::npos) << Narrow(record.text);
  }
  for (int kind : {KX_LOG_PATHENTRY, KX_LOG_ENVVAR, KX_LOG_ASSOCIATION, KX_LOG_REGVALUE, KX_LOG_REGKEY})
    EXPECT_TRUE(std::any_of(Fake().log.begin(), Fake().log.end(), [&](const LogRecord& r) { return r.kind == kind; }))
        << kind;

  // The rollback: the user's PATH as it was, the rest gone.
  EXPECT_EQ(0, RollBackInstallation());
  EXPECT_EQ(pathBefore_, Read(HKEY_CURRENT_USER, L"Environment", L"Path"));
  EXPECT_EQ(L"<missing>", Read(HKEY_CURRENT_USER, L"Environment", L"KXDECLTEST_HOME"));
  EXPECT_EQ(L"<missing>", Read(HKEY_CURRENT_USER, product_, L"Kept"));
  EXPECT_EQ(L"<missing>", Read(HKEY_CURRENT_USER, L"Software\\Classes\\.kxdecltest", L""));
  HKEY key;
  EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\KxTests.DeclTest", 0, KEY_READ, &key));
}

TEST_F(DeclaredEffects, AReinstallAddsThePathEntryOnceAndStillLogsIt) {
  ASSERT_EQ(0u, ApplyDeclaredEffects(*declarations_, folder_.c_str(), DeclScope::kCurrentUser));
  const std::wstring once = Read(HKEY_CURRENT_USER, L"Environment", L"Path");
  ResetFake();
  ASSERT_EQ(0u, ApplyDeclaredEffects(*declarations_, folder_.c_str(), DeclScope::kCurrentUser));
  EXPECT_EQ(once, Read(HKEY_CURRENT_USER, L"Environment", L"Path"));
  EXPECT_TRUE(std::any_of(Fake().log.begin(), Fake().log.end(),
                          [](const LogRecord& r) { return r.kind == KX_LOG_PATHENTRY; }));
}

TEST(PackageDeclarationLines, AreHeldToTheRulesKxpackChecks) {
  PackageDeclarations* declarations = new PackageDeclarations;
  auto fresh = [&] { ClearPackageDeclarations(declarations); };
  auto store = [&](const std::string& line) { return Store(declarations, line); };
  fresh();
  // Unknown fields and tables, numbers out of range or with leading zeros,
  // repeated fields, values their rule refuses.
  for (const char* line : {"path.1.colour=x", "path.0.folder=bin", "path.01.folder=bin", "path.9.folder=bin",
                           "path.x.folder=bin", "path.1.folder=..\\bin", "path.1.folder=bin/x",
                           "registry.1.key=HKEY_USERS\\x", "registry.1.key=HKLM\\System\\x", "run.1.wait=yes",
                           "association.1.extension=txt", "environment.1.name=PATH", "run.1.program=C:\\x.exe",
                           "path.1.task=add to path"})
    EXPECT_FALSE(store(line)) << line;
  EXPECT_TRUE(store("path.1.folder=bin"));
  EXPECT_FALSE(store("path.1.folder=bin"));
  // A gap in the numbering, a missing required field, data its type refuses.
  fresh();
  ASSERT_TRUE(store("path.2.folder=bin"));
  EXPECT_FALSE(CompletePackageDeclarations(declarations));
  fresh();
  ASSERT_TRUE(store("run.1.program=bin\\x.exe"));
  EXPECT_FALSE(CompletePackageDeclarations(declarations));
  ASSERT_TRUE(store("run.1.when=after_install"));
  ASSERT_TRUE(store("run.1.wait=1"));
  EXPECT_TRUE(CompletePackageDeclarations(declarations));
  fresh();
  for (const char* line : {"registry.1.key=HKCU\\Software\\x", "registry.1.type=dword", "registry.1.data=99999999999",
                           "registry.1.uninstall=keep"})
    ASSERT_TRUE(store(line)) << line;
  EXPECT_FALSE(CompletePackageDeclarations(declarations));
  delete declarations;
}
