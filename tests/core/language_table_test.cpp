// The language table's format: header, keys, texts as written.
#include <gtest/gtest.h>

#include "core/language_table.h"

using kxcore::LanguageTable;
using kxcore::ParseLanguageTable;

TEST(LanguageTable, ReadsHeaderAndKeysKeepingTrailingBlanks) {
  LanguageTable table;
  std::wstring error;
  ASSERT_TRUE(ParseLanguageTable("[KXLang]\r\nEnglish\r\n1033\r\n#next=&Next >\r\n#errorwritefile=Cannot write: \r\n"
                                 "#Mixed=Key=with=equals\r\n",
                                 &table, &error))
      << error;
  EXPECT_EQ(L"English", table.name);
  EXPECT_EQ(1033u, table.languageId);
  EXPECT_EQ(L"&Next >", table.texts[L"#next"]);
  EXPECT_EQ(L"Cannot write: ", table.texts[L"#errorwritefile"]);
  EXPECT_EQ(L"Key=with=equals", table.texts[L"#mixed"]);
}

TEST(LanguageTable, DecodesTheAnsiCodePage) {
  LanguageTable table;
  std::wstring error;
  ASSERT_TRUE(ParseLanguageTable("[KXLang]\r\nEnglish\r\n1033\r\n#copy=\xA9 Quillmark\r\n", &table, &error));
  EXPECT_EQ(L"\u00A9 Quillmark", table.texts[L"#copy"]);
}

TEST(LanguageTable, RejectsMalformedFilesNamingTheLine) {
  struct Case {
    const char* bytes;
    const wchar_t* line;
  } cases[] = {
      {"English\r\n1033\r\n", L"line 1"},
      {"[KXLang]\r\nEnglish\r\n", L"line 3"},
      {"[KXLang]\r\nEnglish\r\n1033\r\n#ok=1\r\nno key here\r\n", L"line 5"},
      {"[KXLang]\r\nEnglish\r\n1033\r\n#=empty key\r\n", L"line 4"},
  };
  for (const Case& c : cases) {
    LanguageTable table;
    std::wstring error;
    EXPECT_FALSE(ParseLanguageTable(c.bytes, &table, &error)) << c.bytes;
    EXPECT_NE(std::wstring::npos, error.find(c.line)) << error;
  }
}
