// The run's language: which of the package's languages a user gets, what
// /LANG= takes, the translated tables laid over the English one, and what
// InitSFX's choice tells the programs.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/language_choice.h"
#include "core/language_table.h"
#include "core/run_language.h"
#include "core/variables.h"
#include "tests/support/test_files.h"

using namespace kxcore;

namespace {

constexpr unsigned short kGerman = 1031, kEnglish = 1033, kJapanese = 1041, kArabic = 1025;

unsigned short Choose(std::vector<unsigned short> offered, unsigned short requested, unsigned short recorded,
                      unsigned short user) {
  return ChooseLanguage(offered.data(), offered.size(), requested, recorded, user);
}

TEST(LanguageChoice, TheUsersLanguageOrItsBaseElseThePackagesFirst) {
  const struct {
    const char* what;
    std::vector<unsigned short> offered;
    unsigned short requested, recorded, user, chosen;
  } cases[] = {
      {"the user's language", {kEnglish, kGerman, kJapanese}, 0, 0, kJapanese, kJapanese},
      {"German of Austria gets German", {kEnglish, kGerman}, 0, 0, 3079, kGerman},
      {"English of Britain gets English", {kGerman, kEnglish}, 0, 0, 2057, kEnglish},
      {"Portuguese of Portugal gets Brazil's", {kEnglish, 1046}, 0, 0, 2070, 1046},
      {"Spanish of Mexico gets Spain's", {kEnglish, 3082}, 0, 0, 2058, 3082},
      {"a language the package lacks gets its first", {kGerman, kEnglish}, 0, 0, kJapanese, kGerman},
      {"Traditional Chinese never gets Simplified", {kEnglish, 2052}, 0, 0, 1028, kEnglish},
      {"Hong Kong neither", {kEnglish, 2052}, 0, 0, 3076, kEnglish},
      {"Singapore reads Simplified", {kEnglish, 2052}, 0, 0, 4100, 2052},
      {"the first of one base wins", {kEnglish, 3082, 1034}, 0, 0, 2058, 3082},
      {"/LANG= before all", {kEnglish, kGerman, kJapanese}, kJapanese, kGerman, kEnglish, kJapanese},
      {"the installation's before the user's", {kEnglish, kGerman, kJapanese}, 0, kGerman, kJapanese, kGerman},
      {"a /LANG= the package lacks falls through", {kEnglish, kGerman}, kJapanese, 0, kGerman, kGerman},
      {"a recorded language it lacks too", {kEnglish, kGerman}, 0, kArabic, 0, kEnglish},
      {"no offer at all: English", {}, kGerman, 0, kGerman, kEnglish},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Choose(c.offered, c.requested, c.recorded, c.user), c.chosen) << c.what;
  }
}

TEST(LanguageChoice, SwitchValuesListsAndReadingOrder) {
  EXPECT_EQ(LanguageFromSwitch(L"German"), kGerman);
  EXPECT_EQ(LanguageFromSwitch(L"portuguesebrazil"), 1046);
  EXPECT_EQ(LanguageFromSwitch(L"CHINESESIMPLIFIED"), 2052);
  EXPECT_EQ(LanguageFromSwitch(L"1041"), kJapanese);
  EXPECT_EQ(LanguageFromSwitch(L"65535"), 65535);
  for (const wchar_t* bad : {L"", L"Klingon", L"Germany", L"0", L"01031", L"65536", L"-1031", L"1031x", L"10 31"})
    EXPECT_EQ(LanguageFromSwitch(bad), 0) << bad;

  unsigned short ids[3] = {};
  EXPECT_EQ(ParseLanguageList(L"1031,1033,1041,1025", ids, 3), 3u);
  EXPECT_EQ(ids[2], kJapanese);
  EXPECT_EQ(ParseLanguageList(L"x,,1033,0", ids, 3), 1u);
  EXPECT_EQ(ids[0], kEnglish);
  EXPECT_EQ(ParseLanguageList(L"", ids, 3), 0u);

  // Arabic of Saudi Arabia and of the Emirates, Hebrew, Persian, Urdu.
  for (unsigned short id : std::vector<unsigned short>{kArabic, 14337, 1037, 1065, 1056})
    EXPECT_TRUE(IsRightToLeftLanguage(id)) << id;
  for (unsigned short id : std::vector<unsigned short>{kEnglish, kGerman, kJapanese, 2052, 1049})
    EXPECT_FALSE(IsRightToLeftLanguage(id)) << id;
}

TEST(LanguageChoice, LangSwitchNamesALanguageOrIsUnknown) {
  EXPECT_EQ(ParseCommandLine(L"setup.exe /LANG=German /S").language, kGerman);
  EXPECT_EQ(ParseCommandLine(L"setup.exe /lang=1041").language, kJapanese);
  EXPECT_FALSE(ParseCommandLine(L"setup.exe /lang=1041").usage);
  for (const wchar_t* line : {L"setup.exe /LANG=Klingon", L"setup.exe /LANG=", L"setup.exe /LANG", L"setup.exe /LANG=0"}) {
    CommandLineOptions options = ParseCommandLine(line);
    EXPECT_TRUE(options.usage) << line;
    EXPECT_EQ(options.language, 0) << line;
    EXPECT_EQ(options.unknownArgument, std::wstring(line + 10)) << line;
  }
  // An earlier unknown switch is the one named.
  EXPECT_EQ(ParseCommandLine(L"setup.exe /quiet /LANG=Klingon").unknownArgument, L"/quiet");
}

// Every table the build ships (the staged runtime of the Quillmark package,
// which offers them all) is one /LANG= knows by its name.
TEST(LanguageChoice, EveryShippedTableIsKnownByItsName) {
  const std::wstring runtime = kxtest::TestDataPath("KX_TEST_RUNTIME");
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((runtime + L"\\kxlng*.dat").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  size_t tables = 0;
  do {
    std::string bytes = kxtest::ReadBytes(runtime + L"\\" + found.cFileName);
    LanguageTable table;
    std::wstring error;
    const bool english = std::wstring(found.cFileName) == L"kxlng.dat";
    ASSERT_TRUE(english ? ParseLanguageTable(bytes, &table, &error) : ParseTranslatedLanguageTable(bytes, &table, &error))
        << error;
    EXPECT_EQ(LanguageFromSwitch(table.name), table.languageId) << found.cFileName;
    ++tables;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  EXPECT_EQ(tables, kKnownLanguageCount);
}

class LanguageTables : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearVariables();
    ASSERT_TRUE(kxtest::WriteBytes(folder_ / L"kxlng.dat",
                                   "[KXLang]\r\nEnglish\r\n1033\r\n#next=&Next >\r\n#cancel=&Cancel\r\n"
                                   "#copyright=\xA9 Quillmark\r\n"));
    // "Weiter", "Zurück" in UTF-8; #cancel left out.
    ASSERT_TRUE(kxtest::WriteBytes(folder_ / L"kxlng1031.dat",
                                   "[KXLang]\r\nGerman\r\n1031\r\n#next=&Weiter >\r\n#back=< &Zur\xC3\xBC" "ck\r\n"));
  }
  void TearDown() override {
    SetActiveLanguageTable(LanguageTable());
    ClearVariables();
  }
  std::wstring Folder() const { return folder_ / L""; }
  static std::wstring Text(const wchar_t* key) {
    const std::wstring* text = FindLanguageText(key);
    return text ? *text : L"(none)";
  }
  kxtest::ScratchFolder folder_;
};

TEST_F(LanguageTables, ATranslationLiesOverTheEnglishTable) {
  ASSERT_TRUE(ActivateLanguageTableFrom(Folder(), kGerman));
  EXPECT_EQ(ActiveLanguageTable().name, L"German");
  EXPECT_EQ(ActiveLanguageTable().languageId, kGerman);
  EXPECT_EQ(Text(L"#Next"), L"&Weiter >");
  EXPECT_EQ(Text(L"#back"), L"< &Zur\u00FCck");  // UTF-8, whatever the code page
  EXPECT_EQ(Text(L"#cancel"), L"&Cancel");       // what German lacks stays English
  EXPECT_EQ(Text(L"#copyright"), L"\u00A9 Quillmark");  // English stays in the ANSI code page

  ASSERT_TRUE(ActivateLanguageTableFrom(Folder(), kEnglish));
  EXPECT_EQ(Text(L"#next"), L"&Next >");
  EXPECT_EQ(Text(L"#back"), L"(none)");
}

TEST_F(LanguageTables, AMissingOrDamagedTranslationLeavesTheActiveTable) {
  ASSERT_TRUE(ActivateLanguageTableFrom(Folder(), kGerman));
  EXPECT_FALSE(ActivateLanguageTableFrom(Folder(), kJapanese));  // no kxlng1041.dat
  ASSERT_TRUE(kxtest::WriteBytes(folder_ / L"kxlng1041.dat", "[KXLang]\r\nJapanese\r\n1042\r\n#next=x\r\n"));
  EXPECT_FALSE(ActivateLanguageTableFrom(Folder(), kJapanese));  // another language's id
  ASSERT_TRUE(kxtest::WriteBytes(folder_ / L"kxlng1041.dat", "[KXLang]\r\nJapanese\r\n1041\r\n#next=\xE6\xAC\r\n"));
  EXPECT_FALSE(ActivateLanguageTableFrom(Folder(), kJapanese));  // cut UTF-8
  EXPECT_EQ(Text(L"#next"), L"&Weiter >");
}

TEST_F(LanguageTables, TheChoiceIsPublishedAndAnUnreadableOneFallsBack) {
  // The tests' library is the test program: no tables beside it, so every
  // language but English fails and the run speaks English.
  SetVariable(L"KXLANGUAGES", L"1031,1033");
  StartRunLanguage(kGerman);
  std::wstring value;
  EXPECT_TRUE(GetVariable(L"SELLANG", &value));
  EXPECT_EQ(value, L"English");
  EXPECT_TRUE(GetVariable(L"KXLANGID", &value));
  EXPECT_EQ(value, L"1033");
  EXPECT_TRUE(GetVariable(L"KXLANGRTL", &value));
  EXPECT_EQ(value, L"0");
  EXPECT_TRUE(RunLanguageRequested());
  EXPECT_EQ(RunLanguage(), kEnglish);
  unsigned short ids[kMaxRunLanguages];
  EXPECT_EQ(OfferedLanguages(ids), 2u);
  ClearVariables();
  EXPECT_EQ(OfferedLanguages(ids), 1u);
  EXPECT_EQ(ids[0], kEnglish);
  // A language whose table cannot be read changes nothing.
  EXPECT_FALSE(SetRunLanguage(kArabic));
  EXPECT_EQ(RunLanguage(), kEnglish);
  EXPECT_FALSE(GetVariable(L"KXLANGID", &value));
}

}  // namespace
