// INI files written and read through script texts and variables, on real
// files; and the two text searches.
#include "services/ini_access.h"

#include <gtest/gtest.h>

#include <string>

#include "services/text_search.h"
#include "tests/support/fake_core.h"
#include "tests/support/test_files.h"

namespace {

using kxtest::ReadBytes;
using kxtest::WriteBytes;

std::wstring Var(const wchar_t* name) { return EvalVar((std::wstring(L"%") + name + L"%").c_str()); }

class IniAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kxtest::ResetFake();
    file_ = folder_ / L"settings.ini";
    SetVar(L"INIFILE", file_.c_str());
  }

  kxtest::ScratchFolder folder_;
  std::wstring file_;
};

TEST_F(IniAccessTest, WriteExpandsEveryText) {
  SetVar(L"SECTION", L"Paths");
  SetVar(L"KEY", L"Home");
  SetVar(L"VALUE", L"C:\\Quillmark");
  EXPECT_TRUE(IniWriteValue(L"%INIFILE%", L"%SECTION%", L"%KEY%", L"%VALUE%\\bin"));
  EXPECT_EQ(ReadBytes(file_), "[Paths]\r\nHome=C:\\Quillmark\\bin\r\n");
}

TEST_F(IniAccessTest, EmptyValueDeletesKeyAndEmptyKeyDeletesSection) {
  ASSERT_TRUE(WriteBytes(file_, "[Keep]\r\na=1\r\n[Drop]\r\nb=2\r\nc=3\r\n"));
  EXPECT_TRUE(IniWriteValue(L"%INIFILE%", L"Drop", L"b", L""));
  EXPECT_EQ(ReadBytes(file_), "[Keep]\r\na=1\r\n[Drop]\r\nc=3\r\n");
  EXPECT_TRUE(IniWriteValue(L"%INIFILE%", L"Drop", L"", L"ignored"));
  EXPECT_EQ(ReadBytes(file_), "[Keep]\r\na=1\r\n");
}

TEST_F(IniAccessTest, WriteRefusesATextCutToFit) {
  SetVar(L"HUGE", std::wstring(9000, L'v').c_str());
  EXPECT_FALSE(IniWriteValue(L"%INIFILE%", L"Section", L"key", L"%HUGE%"));
  EXPECT_FALSE(kxtest::FileExists(file_));
}

TEST_F(IniAccessTest, ReadSetsTheVariableOrKeepsIt) {
  ASSERT_TRUE(WriteBytes(file_, "[First]\r\nalpha=1\r\n[Second]\r\nbeta=two words\r\ngamma=3\r\n"));
  SetVar(L"SECTION", L"Second");
  IniReadToVar(L"%INIFILE%", L"%SECTION%", L"beta", L"RESULT");
  EXPECT_EQ(Var(L"RESULT"), L"two words");

  // A missing key or file keeps the current value; an empty one stays empty.
  IniReadToVar(L"%INIFILE%", L"Second", L"delta", L"RESULT");
  EXPECT_EQ(Var(L"RESULT"), L"two words");
  IniReadToVar(L"%INIFILE%.missing", L"Second", L"beta", L"RESULT");
  EXPECT_EQ(Var(L"RESULT"), L"two words");
  SetVar(L"EMPTY", L"");
  IniReadToVar(L"%INIFILE%", L"Second", L"delta", L"EMPTY");
  EXPECT_EQ(Var(L"EMPTY"), L"");

  // An empty key gives the section's first key name, an empty section the
  // file's first section name.
  IniReadToVar(L"%INIFILE%", L"Second", L"", L"RESULT");
  EXPECT_EQ(Var(L"RESULT"), L"beta");
  IniReadToVar(L"%INIFILE%", L"", L"", L"RESULT");
  EXPECT_EQ(Var(L"RESULT"), L"First");
}

TEST_F(IniAccessTest, MissingKeyKeepsAValueLongerThanTheBuffer) {
  ASSERT_TRUE(WriteBytes(file_, "[Section]\r\nkey=short\r\n"));
  std::wstring whole(9000, L'w');
  SetVar(L"LONG", whole.c_str());
  IniReadToVar(L"%INIFILE%", L"Section", L"missing", L"LONG");
  EXPECT_EQ(Var(L"LONG"), whole);
  IniReadToVar(L"%INIFILE%", L"Section", L"key", L"LONG");
  EXPECT_EQ(Var(L"LONG"), L"short");
}

TEST(TextSearchTest, FindsTheFirstOccurrence) {
  const wchar_t text[] = L"name=value=more";
  EXPECT_EQ(TextAfter(text, L"="), text + 5);
  EXPECT_EQ(TextAfter(text, L"value="), text + 11);
  EXPECT_EQ(TextAfter(text, L"absent"), text);

  wchar_t cut[] = L"name=value=more";
  EXPECT_EQ(TextCutAt(cut, L"="), cut);
  EXPECT_STREQ(cut, L"name");
  wchar_t kept[] = L"name=value";
  EXPECT_STREQ(TextCutAt(kept, L"absent"), L"name=value");
}

}  // namespace
