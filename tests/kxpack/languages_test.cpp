// The language tables kxpack ships and what it makes of them for a package:
// the tables as the parts hold them, the keys only kxpack reads left out of
// what goes into a package, and the pages and texts it writes in each
// language.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/kxpack/page_text.h"
#include "tools/kxpack/shipped_languages.h"

namespace {

std::vector<unsigned char> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
std::string Text(const std::vector<unsigned char>& bytes) { return {bytes.begin(), bytes.end()}; }

const ShippedLanguages& Shipped() {
  // The repository's runtime folder is laid out as the parts folder is.
  static const ShippedLanguages languages = [] {
    ShippedLanguages loaded;
    std::string error;
    EXPECT_TRUE(LoadShippedLanguages(KX_SOURCE_ROOT "/runtime", &loaded, &error)) << error;
    return loaded;
  }();
  return languages;
}

TEST(ShippedLanguages, TheRuntimeTablesAreShippedEnglishFirstWithoutKxpacksKeys) {
  const ShippedLanguages& languages = Shipped();
  ASSERT_GE(languages.size(), 14u);
  EXPECT_EQ(languages.front().name, "English");
  EXPECT_EQ(languages.front().runtimeFile, "kxlng.dat");
  for (const char* name : {"German", "french", "PortugueseBrazil", "Japanese", "Arabic", "ChineseSimplified"})
    EXPECT_NE(FindShippedLanguage(languages, name), nullptr) << name;
  EXPECT_EQ(FindShippedLanguage(languages, "Klingon"), nullptr);
  for (size_t i = 1; i < languages.size(); ++i) {
    SCOPED_TRACE(languages[i].name);
    if (i > 1) {
      EXPECT_LT(languages[i - 1].id, languages[i].id);
    }
    EXPECT_EQ(languages[i].runtimeFile, "kxlng" + std::to_string(languages[i].id) + ".dat");
  }
  for (const ShippedLanguage& language : languages) {
    SCOPED_TRACE(language.name);
    const std::string table = Text(language.table);
    EXPECT_EQ(table.compare(0, 10, "[KXLang]\r\n"), 0);
    EXPECT_EQ(table.find("#pkg"), std::string::npos);
    EXPECT_NE(table.find("\r\n#next="), std::string::npos);
    EXPECT_EQ(table.substr(table.size() - 2), "\r\n");
    for (const char* key : {"pkgwindowtitle", "pkgwizardlabel", "pkgwelcomeheading", "pkgfinishclose"})
      EXPECT_FALSE(PackageText(languages, language, key).empty()) << key;
  }
}

TEST(ShippedLanguages, ATableIsKeptByteForByteSaveKxpacksKeys) {
  const std::string table =
      "[KXLang]\r\nGerman\r\n1031\r\n#next=&Weiter >\r\n#pkgwizardlabel=%NAME% Setup\r\n#PkgWindowTitle=T\r\n"
      "#errorreadfile=Datei: \r\n\r\n#cancel=&Abbrechen";
  ShippedLanguage language;
  std::string error;
  ASSERT_TRUE(ParseShippedLanguage(Bytes(table), "kxlng1031.dat", &language, &error)) << error;
  EXPECT_EQ(language.name, "German");
  EXPECT_EQ(language.id, 1031u);
  EXPECT_EQ(Text(language.table),
            "[KXLang]\r\nGerman\r\n1031\r\n#next=&Weiter >\r\n#errorreadfile=Datei: \r\n\r\n#cancel=&Abbrechen");
  EXPECT_EQ(language.packageTexts.at("pkgwizardlabel"), "%NAME% Setup");
  EXPECT_EQ(language.packageTexts.at("pkgwindowtitle"), "T");
}

TEST(ShippedLanguages, DamagedTablesAreRefusedWithTheirLine) {
  const std::string good = "[KXLang]\r\nGerman\r\n1031\r\n#next=&Weiter >\r\n";
  struct Case {
    std::string bytes, file, message;
  } cases[] = {
      {"[KXLang]\r\nGerman\r\n", "kxlng1031.dat", "kxlng1031.dat: the header ([KXLang], name, id) is incomplete"},
      {"[Lang]" + good.substr(8), "kxlng1031.dat", "kxlng1031.dat, line 1: expected [KXLang]"},
      {"[KXLang]\r\nGer man\r\n1031\r\n", "kxlng1031.dat", "line 2: the language name must be letters only"},
      {"[KXLang]\r\nGerman\r\n70000\r\n", "kxlng1031.dat", "line 3: the language id must be a number"},
      {"[KXLang]\r\nGerman\r\n0\r\n", "kxlng1031.dat", "line 3: the language id must be a number"},
      {good + "next=x\r\n", "kxlng1031.dat", "line 5: expected #key=text"},
      {good + "#=x\r\n", "kxlng1031.dat", "line 5: expected #key=text"},
      {good, "kxlng1036.dat", "the language id 1031 is not the one of the file name"},
      {good, "kxlng.dat", "the English table must have the id 1033"},
      {good + "#a=\xC3(\r\n", "kxlng1031.dat", "is not UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ShippedLanguage language;
    std::string error;
    EXPECT_FALSE(ParseShippedLanguage(Bytes(c.bytes), c.file, &language, &error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST(ShippedLanguages, ReferencesAreFilledAndTheRestEscaped) {
  const auto upper = [](const std::string& text) {
    std::string result = text;
    for (char& c : result) c = static_cast<char>(toupper(c));
    return result;
  };
  EXPECT_EQ(FillReferences("Setup of %NAME% (%BITS%) 100%", {{"NAME", "a%b"}}, upper), "SETUP OF a%b (%BITS%) 100%");
  EXPECT_EQ(FillReferences("%NAME%%NAME%", {{"NAME", "x"}}), "xx");
  EXPECT_EQ(FillReferences("%% %NAME", {{"NAME", "x"}}), "%% %NAME");
}

// A page of kxpack's in a language, as the package carries it.
std::string WelcomeIn(const char* language, const std::string& name, const std::string& version) {
  return Text(DefaultWelcomePage(Shipped(), *FindShippedLanguage(Shipped(), language), name, version));
}
std::string FinishIn(const char* language, const std::string& name) {
  return Text(DefaultFinishPage(Shipped(), *FindShippedLanguage(Shipped(), language), name));
}

TEST(DefaultPages, EnglishPagesAreTheOnesPackagesAlwaysHad) {
  // Byte for byte what kxpack wrote before it knew other languages: an
  // English package stays as it was.
  const std::string head =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fswiss\\fcharset0 Segoe UI;}}\r\n"
      "{\\colortbl ;\\red28\\green52\\blue94;\\red58\\green58\\blue58;\\red110\\green110\\blue110;}\r\n"
      "\\viewkind4\\uc1\r\n";
  EXPECT_EQ(WelcomeIn("English", "Sample App", "1.0"),
            head + "\\pard\\sa220\\cf1\\b\\fs28 Welcome to the Sample App Setup Wizard\\b0\\par\r\n"
                   "\\pard\\sa140\\cf2\\fs18 This wizard installs \\b Sample App 1.0\\b0  on your computer.\\par\r\n"
                   "\\pard\\sa0\\cf2\\fs18 Click Next to continue, or Cancel to leave Setup.\\par\r\n}\r\n");
  EXPECT_EQ(FinishIn("English", "Sample App"),
            head + "\\pard\\sa220\\cf1\\b\\fs28 Completing the Sample App Setup Wizard\\b0\\par\r\n"
                   "\\pard\\sa140\\cf2\\fs18 Sample App has been installed on your computer.\\par\r\n"
                   "\\pard\\sa140\\cf2\\fs18 \\cf3 Installation folder:\\line\\cf2 %DESTPATH%\\line\\cf3 Start menu "
                   "folder:\\line\\cf2 %SHORTCUTPATH%\\par\r\n"
                   "\\pard\\sa0\\cf2\\fs18 Click Close to leave the wizard.\\par\r\n}\r\n");
}

TEST(DefaultPages, OtherLanguagesAreWrittenInThemWithTheNamesAsGiven) {
  // "Willkommen beim Setup-Assistenten für %NAME%": the u-umlaut escaped,
  // the name as written.
  const std::string german = WelcomeIn("German", "Caf\xC3\xA9 {Pro}", "2.0");
  EXPECT_NE(german.find("\\deflang1031"), std::string::npos);
  EXPECT_NE(german.find("\\fcharset0 Segoe UI;"), std::string::npos);
  // The font is asked for in the language's character set.
  EXPECT_NE(WelcomeIn("Arabic", "A", "1").find("\\fcharset178 Segoe UI;"), std::string::npos);
  EXPECT_NE(WelcomeIn("Japanese", "A", "1").find("\\fcharset128 Segoe UI;"), std::string::npos);
  EXPECT_NE(WelcomeIn("Russian", "A", "1").find("\\fcharset204 Segoe UI;"), std::string::npos);
  EXPECT_NE(german.find("Willkommen beim Setup-Assistenten f\\u252?r Caf\\u233? \\{Pro\\}\\b0"), std::string::npos);
  EXPECT_NE(german.find("installiert \\b Caf\\u233? \\{Pro\\} 2.0\\b0  auf"), std::string::npos);
  // Japanese: nothing but ASCII in the file.
  const std::string japanese = FinishIn("Japanese", "Tool");
  for (char c : japanese) EXPECT_GE(static_cast<unsigned char>(c), 0x0A);
  for (char c : japanese) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
  EXPECT_NE(japanese.find("%DESTPATH%"), std::string::npos);
  EXPECT_NE(japanese.find("%SHORTCUTPATH%"), std::string::npos);
  // The finish page is read with its variables replaced: a '%' of the name
  // is doubled in every language, a '%' of the welcome page is not.
  for (const char* language : {"English", "German", "Arabic", "Korean"}) {
    EXPECT_NE(FinishIn(language, "50% Tools").find("50%% Tools"), std::string::npos) << language;
    EXPECT_EQ(FinishIn(language, "50% Tools").find("50% Tools"), std::string::npos) << language;
    EXPECT_NE(WelcomeIn(language, "50% Tools", "1").find("50% Tools"), std::string::npos) << language;
  }
}

// The pages of a language written from right to left run right to left,
// paragraph by paragraph; no other page does.
TEST(DefaultPages, RightToLeftLanguagesGetRightToLeftParagraphs) {
  const std::string arabic = WelcomeIn("Arabic", "Tool", "1") + FinishIn("Arabic", "Tool");
  size_t paragraphs = 0, rightToLeft = 0;
  for (size_t at = 0; (at = arabic.find("\\pard", at)) != std::string::npos; ++at, ++paragraphs)
    rightToLeft += arabic.compare(at, 12, "\\pard\\rtlpar") == 0;
  EXPECT_EQ(paragraphs, 7u);
  EXPECT_EQ(rightToLeft, paragraphs);
  for (const char* language : {"English", "German", "Japanese"})
    EXPECT_EQ((WelcomeIn(language, "Tool", "1") + FinishIn(language, "Tool")).find("\\rtlpar"), std::string::npos)
        << language;

  std::vector<unsigned char> rtf;
  std::string error;
  ASSERT_TRUE(PlainTextToRtf(Bytes("\xD8\xA3\nb\n"), &rtf, &error, true));
  EXPECT_NE(Text(rtf).find("\\pard\\rtlpar\\sa60"), std::string::npos);
  ASSERT_TRUE(PlainTextToRtf(Bytes("a\nb\n"), &rtf, &error));
  EXPECT_EQ(Text(rtf).find("\\rtlpar"), std::string::npos);
  EXPECT_TRUE(IsRightToLeftLanguage(1025) && IsRightToLeftLanguage(3073) && IsRightToLeftLanguage(1037));
  EXPECT_FALSE(IsRightToLeftLanguage(1033) || IsRightToLeftLanguage(1041));
}

TEST(DefaultPages, AKeyALanguageLacksIsTakenFromEnglish) {
  ShippedLanguages languages = Shipped();
  ShippedLanguage& german = languages[1];
  german.packageTexts.erase("pkgwelcomenext");
  const std::string page = Text(DefaultWelcomePage(languages, german, "A", "1"));
  EXPECT_NE(page.find("Click Next to continue"), std::string::npos);
}

}  // namespace
