// RegisterUninstallEntry against Wine's real HKEY_LOCAL_MACHINE. The key is
// the package's own and is removed before and after each test.
#include <gtest/gtest.h>

#include "core/kxcore.h"
#include "script/uninstall_registration.h"
#include "tests/script/script_test_support.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

namespace {

using kxtest::LogRecord;

const std::wstring kKey = kxtest::kShippedUninstallKey;
const std::wstring kKeyRecord = L"HKEY_LOCAL_MACHINE\\" + kKey;

LogRecord ValueRecord(const wchar_t* name) {
  return {KX_LOG_REGVALUE, L"\"HKEY_LOCAL_MACHINE\\" + kKey + L"\" \"" + name + L"\""};
}

class RegisterUninstallEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::ResetFake();
    kxtest::UseShippedPackage();
    kxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kKey);
    SetVar(L"DESTPATH", L"C:\\Program Files\\Quillmark");
    SetVar(L"UNINSTFNAME", L"%DESTPATH%\\Uninst.exe");
    // InitSFX's choice: the run's language.
    SetVar(L"KXLANGID", L"1041");
  }
  void TearDown() override { kxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kKey); }
  std::wstring Value(const wchar_t* name) { return kxtest::ReadRegValue(HKEY_LOCAL_MACHINE, kKey, name).Text(); }
};

TEST_F(RegisterUninstallEntryTest, WritesTheTwelveValuesAndLogsEachWithItsKey) {
  SetVar(L"KXESTIMATEDSIZE", L"1234");
  RegisterUninstallEntry();

  EXPECT_EQ(Value(L"DisplayName"), L"Quillmark Toolkit");
  EXPECT_EQ(Value(L"DisplayVersion"), L"2020.01.15.01");
  EXPECT_EQ(Value(L"UninstallString"), L"C:\\Program Files\\Quillmark\\Uninst.exe");
  EXPECT_EQ(Value(L"Publisher"), L"Quillmark, LLC");
  EXPECT_EQ(Value(L"URLInfoAbout"), L"https://www.quillmark.example");
  EXPECT_EQ(Value(L"DisplayIcon"), L"C:\\Program Files\\Quillmark\\Uninst.exe,0");
  EXPECT_EQ(kxtest::ReadRegValue(HKEY_LOCAL_MACHINE, kKey, L"DisplayName").type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(Value(L"InstallLocation"), L"C:\\Program Files\\Quillmark");
  EXPECT_EQ(Value(L"QuietUninstallString"), L"\"C:\\Program Files\\Quillmark\\Uninst.exe\" /S");
  for (const auto& number : {std::make_pair(L"EstimatedSize", 1234u), std::make_pair(L"NoModify", 1u),
                             std::make_pair(L"NoRepair", 1u), std::make_pair(L"Language", 1041u)}) {
    kxtest::RegValue value = kxtest::ReadRegValue(HKEY_LOCAL_MACHINE, kKey, number.first);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << kxtest::Narrow(number.first);
    EXPECT_EQ(value.Dword(), number.second) << kxtest::Narrow(number.first);
  }

  const LogRecord key = {KX_LOG_REGKEY, kKeyRecord};
  std::vector<LogRecord> expected = {
      ValueRecord(L"DisplayName"),     key, ValueRecord(L"DisplayVersion"),       key,
      ValueRecord(L"UninstallString"), key, ValueRecord(L"Publisher"),            key,
      ValueRecord(L"URLInfoAbout"),    key, ValueRecord(L"DisplayIcon"),          key,
      ValueRecord(L"InstallLocation"), key, ValueRecord(L"EstimatedSize"),        key,
      ValueRecord(L"QuietUninstallString"), key, ValueRecord(L"NoModify"), key,
      ValueRecord(L"NoRepair"),        key, ValueRecord(L"Language"),             key};
  EXPECT_EQ(kxtest::Fake().log, expected);
  EXPECT_EQ(kxtest::Fake().log[0].text,
            L"\"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmark "
            L"Toolkit812953\" \"DisplayName\"");
}

TEST_F(RegisterUninstallEntryTest, AnEarlierEntryIsUpdatedAndForeignValuesKept) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const wchar_t old[] = L"1999.1";
  RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof old);
  RegSetValueExW(key, L"Comments", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof old);
  RegCloseKey(key);

  RegisterUninstallEntry();
  EXPECT_EQ(Value(L"DisplayVersion"), L"2020.01.15.01");
  EXPECT_EQ(Value(L"Comments"), L"1999.1");
  EXPECT_EQ(kxtest::Fake().log.size(), 24u);
}

TEST_F(RegisterUninstallEntryTest, AValueThatCannotBeWrittenIsSkippedAndNotLogged) {
  // An uninstaller path that does not fit the writer's buffer fails that
  // value alone.
  SetVar(L"UNINSTFNAME", std::wstring(9000, L'x').c_str());
  RegisterUninstallEntry();

  EXPECT_FALSE(kxtest::ReadRegValue(HKEY_LOCAL_MACHINE, kKey, L"UninstallString").found);
  EXPECT_EQ(Value(L"DisplayIcon"), L"C:\\Program Files\\Quillmark\\Uninst.exe,0");
  // QuietUninstallString holds the same path and fails with it.
  EXPECT_FALSE(kxtest::ReadRegValue(HKEY_LOCAL_MACHINE, kKey, L"QuietUninstallString").found);
  ASSERT_EQ(kxtest::Fake().log.size(), 20u);
  EXPECT_EQ(kxtest::Fake().log[4], ValueRecord(L"Publisher"));
}

}  // namespace
