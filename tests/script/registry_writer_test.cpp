// RegWriteValue against Wine's real registry, under a test-only key.
#include <gtest/gtest.h>
#include <stdint.h>

#include "core/kxcore.h"
#include "services/registry_writer.h"
#include "tests/script/script_test_support.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

namespace {

using kxtest::ReadRegValue;
using kxtest::RegValue;

class RegWriteValueTest : public ::testing::Test {
 protected:
  void SetUp() override { kxtest::ResetFake(); }
  LONG Write(const wchar_t* name, const wchar_t* data, DWORD type) {
    return RegWriteValue(HKEY_CURRENT_USER, key_.path().c_str(), name, data, type);
  }
  RegValue Read(const wchar_t* name) { return ReadRegValue(HKEY_CURRENT_USER, key_.path(), name); }
  kxtest::TestRegistryKey key_;
};

TEST_F(RegWriteValueTest, StringsAreStoredWithTheirTerminatingZero) {
  ASSERT_EQ(Write(L"Name", L"Quillmark", REG_SZ), ERROR_SUCCESS);
  RegValue value = Read(L"Name");
  ASSERT_TRUE(value.found);
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(value.bytes.size(), (9u + 1u) * 2u);
  EXPECT_EQ(value.Text(), L"Quillmark");

  ASSERT_EQ(Write(L"Empty", L"", REG_SZ), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"Empty").bytes, std::string(2, '\0'));

  ASSERT_EQ(Write(L"Expand", L"%%SystemRoot%%\\x", REG_EXPAND_SZ), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"Expand").type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(Read(L"Expand").Text(), L"%SystemRoot%\\x");
}

TEST_F(RegWriteValueTest, KeyNameAndDataAreExpandedScriptTexts) {
  SetVar(L"SUB", L"Deeper");
  SetVar(L"VALNAME", L"Where");
  SetVar(L"DESTPATH", L"C:\\Program Files\\Quillmark");
  std::wstring key = key_.path() + L"\\%SUB%";
  ASSERT_EQ(RegWriteValue(HKEY_CURRENT_USER, key.c_str(), L"%VALNAME%", L"%DESTPATH%\\Uninst.exe,0", REG_SZ),
            ERROR_SUCCESS);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, key_.path() + L"\\Deeper", L"Where").Text(),
            L"C:\\Program Files\\Quillmark\\Uninst.exe,0");
}

TEST_F(RegWriteValueTest, DwordAndQwordFollowTheUnsignedConversionRules) {
  struct Case {
    const wchar_t* text;
    DWORD dword;
    uint64_t qword;
  };
  const Case cases[] = {
      {L"70000", 70000u, 70000u},
      {L"4294967295", 0xFFFFFFFFu, 4294967295ull},
      {L"4294967296", 0xFFFFFFFFu, 4294967296ull},
      {L"-1", 0xFFFFFFFFu, UINT64_MAX},
      {L"-4294967295", 1u, 18446744069414584321ull},
      {L"-4294967296", 0xFFFFFFFFu, 18446744069414584320ull},
      {L"1099511627776", 0xFFFFFFFFu, 1099511627776ull},
      {L"18446744073709551615", 0xFFFFFFFFu, UINT64_MAX},
      {L"18446744073709551616", 0xFFFFFFFFu, UINT64_MAX},
      {L"-18446744073709551615", 0xFFFFFFFFu, 1u},
      {L"-18446744073709551616", 0xFFFFFFFFu, UINT64_MAX},
      {L"letters", 0u, 0u},
      {L"", 0u, 0u},
      {L"-", 0u, 0u},
      {L" \t+42xyz", 42u, 42u},
      {L"  -0", 0u, 0u},
      {L"12 34", 12u, 12u},
      {L"0x1F", 0u, 0u},
      {L"007", 7u, 7u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kxtest::Narrow(std::wstring(L"text \"") + c.text + L"\""));
    ASSERT_EQ(Write(L"D", c.text, REG_DWORD), ERROR_SUCCESS);
    ASSERT_EQ(Write(L"Q", c.text, REG_QWORD), ERROR_SUCCESS);
    RegValue dword = Read(L"D");
    RegValue qword = Read(L"Q");
    EXPECT_EQ(dword.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(dword.bytes.size(), 4u);
    EXPECT_EQ(dword.Dword(), c.dword);
    EXPECT_EQ(qword.type, static_cast<DWORD>(REG_QWORD));
    EXPECT_EQ(qword.bytes.size(), 8u);
    EXPECT_EQ(qword.Qword(), c.qword);
  }
}

TEST_F(RegWriteValueTest, NumbersComeFromTheExpandedText) {
  SetVar(L"COUNT", L"1234");
  ASSERT_EQ(Write(L"D", L"%COUNT%", REG_DWORD), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"D").Dword(), 1234u);
}

TEST_F(RegWriteValueTest, CreatesEveryMissingLevelOfTheKey) {
  std::wstring deep = key_.path() + L"\\one\\two\\three\\four";
  ASSERT_EQ(RegWriteValue(HKEY_CURRENT_USER, deep.c_str(), L"Leaf", L"x", REG_SZ), ERROR_SUCCESS);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, deep, L"Leaf").Text(), L"x");
}

TEST_F(RegWriteValueTest, OtherTypesCreateTheKeyWriteNothingAndSucceed) {
  std::wstring key = key_.path() + L"\\binary";
  EXPECT_EQ(RegWriteValue(HKEY_CURRENT_USER, key.c_str(), L"Blob", L"0102", REG_BINARY), ERROR_SUCCESS);
  EXPECT_TRUE(kxtest::RegKeyPresent(HKEY_CURRENT_USER, key));
  EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, key, L"Blob").found);
  EXPECT_EQ(RegWriteValue(HKEY_CURRENT_USER, key.c_str(), L"Multi", L"a", REG_MULTI_SZ), ERROR_SUCCESS);
  EXPECT_FALSE(ReadRegValue(HKEY_CURRENT_USER, key, L"Multi").found);
}

TEST_F(RegWriteValueTest, OverwritesOneValueAndLeavesTheOthers) {
  ASSERT_EQ(Write(L"Kept", L"old", REG_SZ), ERROR_SUCCESS);
  ASSERT_EQ(Write(L"Changed", L"old", REG_SZ), ERROR_SUCCESS);
  ASSERT_EQ(Write(L"Changed", L"new", REG_SZ), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"Kept").Text(), L"old");
  EXPECT_EQ(Read(L"Changed").Text(), L"new");
}

TEST_F(RegWriteValueTest, FailuresAreWindowsErrorCodes) {
  // A key cannot be created below a value-less invalid root.
  EXPECT_NE(RegWriteValue(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234)), L"Software", L"x", L"y", REG_SZ),
            ERROR_SUCCESS);
}

TEST_F(RegWriteValueTest, TextsThatDoNotFitAreRefusedBeforeAnythingIsCreated) {
  SetVar(L"HUGE", std::wstring(kRegTextCapacity, L'x').c_str());
  std::wstring key = key_.path() + L"\\long";
  EXPECT_EQ(RegWriteValue(HKEY_CURRENT_USER, key.c_str(), L"Data", L"%HUGE%", REG_SZ),
            static_cast<LONG>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(kxtest::RegKeyPresent(HKEY_CURRENT_USER, key));
  // One unit less fits, terminating zero included.
  SetVar(L"HUGE", std::wstring(kRegTextCapacity - 1, L'x').c_str());
  ASSERT_EQ(RegWriteValue(HKEY_CURRENT_USER, key.c_str(), L"Data", L"%HUGE%", REG_SZ), ERROR_SUCCESS);
  EXPECT_EQ(ReadRegValue(HKEY_CURRENT_USER, key, L"Data").Text().size(), kRegTextCapacity - 1);
}

}  // namespace
