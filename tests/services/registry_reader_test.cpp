// Registry values read back as text from Wine's real registry, under a key of
// the test's own that is removed afterwards.
#include "services/registry_reader.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_core.h"

namespace {

class RegistryReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::ResetFake();
    static int counter;
    keyPath_ = L"Software\\KxTests\\services-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(++counter);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                              nullptr),
              ERROR_SUCCESS);
    // The texts are script texts: the tests reach the key through a variable.
    SetVar(L"TESTKEY", keyPath_.c_str());
  }

  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, keyPath_.c_str());
    // The shared parent goes too once no test uses it.
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KxTests");
  }

  void Set(const wchar_t* name, DWORD type, const void* data, size_t size) {
    ASSERT_EQ(RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
              ERROR_SUCCESS);
  }

  void SetText(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    Set(name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }

  // Reads a value into a buffer full of leftovers, so that a missing
  // terminator shows.
  std::wstring Read(const wchar_t* name, LONG* result = nullptr) {
    out_.assign(kRegValueChars, L'X');
    LONG error = RegReadValue(HKEY_CURRENT_USER, L"%TESTKEY%", name, &out_[0]);
    if (result) *result = error;
    EXPECT_EQ(out_[kRegValueChars - 1], L'\0');
    return out_.c_str();
  }

  std::wstring keyPath_;
  HKEY key_ = nullptr;
  std::wstring out_;
};

TEST_F(RegistryReaderTest, NumbersAsUnsignedDecimalText) {
  DWORD seventyThousand = 70000, allBits = 0xFFFFFFFF;
  ULONGLONG twoToTheForty = 1ULL << 40, allBits64 = ~0ULL;
  Set(L"dword", REG_DWORD, &seventyThousand, sizeof seventyThousand);
  Set(L"dwordMax", REG_DWORD, &allBits, sizeof allBits);
  Set(L"qword", REG_QWORD, &twoToTheForty, sizeof twoToTheForty);
  Set(L"qwordMax", REG_QWORD, &allBits64, sizeof allBits64);
  EXPECT_EQ(Read(L"dword"), L"70000");
  EXPECT_EQ(Read(L"dwordMax"), L"4294967295");
  EXPECT_EQ(Read(L"qword"), L"1099511627776");
  EXPECT_EQ(Read(L"qwordMax"), L"18446744073709551615");
}

TEST_F(RegistryReaderTest, StringsAsStored) {
  SetText(L"plain", L"C:\\Program Files\\Quillmark");
  SetText(L"expandable", L"%SystemRoot%\\system32", REG_EXPAND_SZ);
  SetVar(L"VALUENAME", L"plain");
  EXPECT_EQ(Read(L"%VALUENAME%"), L"C:\\Program Files\\Quillmark");
  EXPECT_EQ(Read(L"expandable"), L"%SystemRoot%\\system32");

  // Stored without its terminator. The registry adds one itself when the
  // unit after the data is zero, so the data must be followed by more text.
  Set(L"unterminated", REG_SZ, L"abcdef", 3 * sizeof(wchar_t));
  EXPECT_EQ(Read(L"unterminated"), L"abc");

  // Exactly the buffer's size: cut at 4095 units.
  std::wstring full(kRegValueChars + 1, L'f');
  Set(L"full", REG_SZ, full.c_str(), kRegValueChars * sizeof(wchar_t));
  EXPECT_EQ(Read(L"full"), full.substr(0, kRegValueChars - 1));
  // Larger than the buffer: empty.
  SetText(L"larger", std::wstring(5000, L'g'));
  EXPECT_EQ(Read(L"larger"), L"");
}

TEST_F(RegistryReaderTest, OtherTypesAndMissingValuesGiveEmptyText) {
  const wchar_t multi[] = L"one\0two\0";
  const BYTE binary[] = {1, 2, 3};
  Set(L"multi", REG_MULTI_SZ, multi, sizeof multi);
  Set(L"binary", REG_BINARY, binary, sizeof binary);
  LONG result = -1;
  EXPECT_EQ(Read(L"multi", &result), L"");
  EXPECT_EQ(result, ERROR_SUCCESS);
  EXPECT_EQ(Read(L"binary"), L"");
  EXPECT_EQ(Read(L"missing", &result), L"");
  EXPECT_EQ(result, ERROR_SUCCESS);
}

TEST_F(RegistryReaderTest, MissingKeyReportsItsError) {
  out_.assign(kRegValueChars, L'X');
  EXPECT_EQ(RegReadValue(HKEY_CURRENT_USER, L"%TESTKEY%\\no such key", L"", &out_[0]), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(out_[0], L'\0');
}

TEST_F(RegistryReaderTest, KeyExistence) {
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, keyPath_.c_str()));
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, (keyPath_ + L"\\no such key").c_str()));
  // The key name is taken as it stands.
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, L"%TESTKEY%"));
}

// A key whose DACL lets everyone read and delete it but not write to it.
TEST_F(RegistryReaderTest, KeyThatMayNotBeWrittenExists) {
  HKEY locked = nullptr;
  ASSERT_EQ(RegCreateKeyExW(key_, L"locked", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &locked, nullptr),
            ERROR_SUCCESS);
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  EXPLICIT_ACCESSW allow = {};
  allow.grfAccessPermissions = KEY_READ | DELETE | WRITE_DAC;
  allow.grfAccessMode = SET_ACCESS;
  allow.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  allow.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  allow.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
  PACL acl = nullptr;
  ASSERT_EQ(SetEntriesInAclW(1, &allow, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
  DWORD applied = SetSecurityInfo(locked, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION |
                                  PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr);
  LocalFree(acl);
  FreeSid(everyone);
  RegCloseKey(locked);
  ASSERT_EQ(applied, static_cast<DWORD>(ERROR_SUCCESS));

  std::wstring lockedPath = keyPath_ + L"\\locked";
  HKEY probe = nullptr;
  LONG writeAccess = RegOpenKeyExW(HKEY_CURRENT_USER, lockedPath.c_str(), 0, KEY_SET_VALUE, &probe);
  if (writeAccess == ERROR_SUCCESS) RegCloseKey(probe);
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, lockedPath.c_str()));
  if (writeAccess != ERROR_ACCESS_DENIED) {
    GTEST_SKIP() << "this Wine does not enforce the key's DACL (open for writing gave " << writeAccess << ")";
  }
}

}  // namespace
