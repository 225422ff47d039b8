// ReplaceVarInFile's replacement: references, escaping for RTF, files.
#include <gtest/gtest.h>

#include "core/language_table.h"
#include "core/text_files.h"
#include "core/variables.h"
#include "tests/support/test_files.h"

namespace {

class TextFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kxcore::ClearVariables();
    kxcore::SetActiveLanguageTable(kxcore::LanguageTable());
  }
  kxtest::ScratchFolder scratch_;
};

TEST_F(TextFilesTest, ReplacesSetVariablesAndLeavesTheRestAlone) {
  kxcore::SetVariable(L"DESTPATH", L"C:\\Apps\\Quill");
  kxcore::SetVariable(L"COUNT", L"12");
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"in %DESTPATH% now", "in C:\\Apps\\Quill now"},
      {"%COUNT%%COUNT%", "1212"},
      {"%destpath%", "C:\\Apps\\Quill"},      // names compare without case
      {"%UNSET% stays", "%UNSET% stays"},
      {"100%% sure, 5% off", "100% sure, 5% off"},
      {"%% then %COUNT%", "% then 12"},
      {"trailing %", "trailing %"},
      {"%NOT A NAME%", "%NOT A NAME%"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(kxcore::ReplaceVariablesInText(c.text, 0), c.expected) << c.text;
}

TEST_F(TextFilesTest, InsertedValuesAreEvaluatedThenEscapedForRtf) {
  kxcore::SetVariable(L"DESTPATH", L"C:\\Program Files\\Quill{mark}");
  kxcore::SetVariable(L"INNER", L"%DESTPATH%");  // expanded when set
  kxcore::SetVariable(L"UNICODE", L"Caf\u00e9 \u2014 \u4e2d");
  kxcore::SetVariable(L"LINES", L"one\r\ntwo\tthree");
  EXPECT_EQ(kxcore::ReplaceVariablesInText("{\\b %DESTPATH%}", kxcore::kReplaceForRtf),
            "{\\b C:\\\\Program Files\\\\Quill\\{mark\\}}");
  EXPECT_EQ(kxcore::ReplaceVariablesInText("%INNER%", kxcore::kReplaceForRtf),
            "C:\\\\Program Files\\\\Quill\\{mark\\}");
  EXPECT_EQ(kxcore::ReplaceVariablesInText("%UNICODE%", kxcore::kReplaceForRtf), "Caf\\u233? \\u8212? \\u20013?");
  EXPECT_EQ(kxcore::ReplaceVariablesInText("%LINES%", kxcore::kReplaceForRtf), "one\\line two\\tab three");
  // Without the flag the value goes in as written, in the ANSI code page.
  EXPECT_EQ(kxcore::ReplaceVariablesInText("%DESTPATH%", 0), "C:\\Program Files\\Quill{mark}");
}

TEST_F(TextFilesTest, LanguageKeysInValuesAreResolved) {
  kxcore::LanguageTable table;
  table.texts[L"#product"] = L"Quillmark {Toolkit}";
  kxcore::SetActiveLanguageTable(table);
  kxcore::SetVariable(L"NAME", L"#Product");
  EXPECT_EQ(kxcore::ReplaceVariablesInText("%NAME%", kxcore::kReplaceForRtf), "Quillmark \\{Toolkit\\}");
}

TEST_F(TextFilesTest, WritesTheShippedFinalPageWithTheFolderAsWritten) {
  std::string final;
  ASSERT_TRUE(kxtest::ReadBytes(kxtest::TestDataPath("KX_TEST_RUNTIME") + L"\\kxfinEnglish.rtf", &final));
  ASSERT_NE(final.find("%DESTPATH%"), std::string::npos);
  kxcore::SetVariable(L"DESTPATH", L"D:\\Tools\\Quill {beta}");
  kxcore::SetVariable(L"SHORTCUTPATH", L"C:\\Menu\\Quillmark");
  kxcore::SetVariable(L"TOTALEXTFILE", L"6");
  const std::wstring source = scratch_ / L"kxfinEnglish.rtf";
  const std::wstring target = scratch_ / L"kxfinEnglishsrv.rtf";
  ASSERT_TRUE(kxtest::WriteBytes(source, final));
  EXPECT_EQ(kxcore::ReplaceVariablesInFile(source, target, kxcore::kReplaceForRtf), 0u);
  std::string written = kxtest::ReadBytes(target);
  EXPECT_NE(written.find("D:\\\\Tools\\\\Quill \\{beta\\}"), std::string::npos);
  EXPECT_EQ(written.find('%'), std::string::npos) << "every reference of the page is set";
  EXPECT_EQ(kxtest::ListFolder(scratch_.path()), (std::vector<std::wstring>{source.substr(scratch_.path().size()),
                                                                            target.substr(scratch_.path().size())}));
}

TEST_F(TextFilesTest, ReplacesAnExistingTargetAndReportsFailures) {
  kxcore::SetVariable(L"A", L"new");
  const std::wstring source = scratch_ / L"in.txt";
  const std::wstring target = scratch_ / L"out.txt";
  ASSERT_TRUE(kxtest::WriteBytes(source, "value: %A%"));
  ASSERT_TRUE(kxtest::WriteBytes(target, "an older and longer copy of the file"));
  EXPECT_EQ(kxcore::ReplaceVariablesInFile(source, target, 0), 0u);
  EXPECT_EQ(kxtest::ReadBytes(target), "value: new");

  EXPECT_EQ(kxcore::ReplaceVariablesInFile(scratch_ / L"missing.rtf", scratch_ / L"never.rtf", 1),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(kxtest::FileExists(scratch_ / L"never.rtf"));

  // A target in a folder that does not exist: an error, and nothing left over.
  EXPECT_NE(kxcore::ReplaceVariablesInFile(source, scratch_ / L"no\\such\\out.txt", 0), 0u);
  EXPECT_EQ(kxtest::ListFolder(scratch_.path()), (std::vector<std::wstring>{L"in.txt", L"out.txt"}));
}

}  // namespace
