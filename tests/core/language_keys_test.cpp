// The language table the runtime ships, and how its keys are found.
#include <gtest/gtest.h>

#include "core/language_table.h"
#include "core/variables.h"
#include "tests/support/test_files.h"

namespace {

class ShippedLanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kxtest::ReadBytes(kxtest::TestDataPath("KX_TEST_RUNTIME") + L"\\kxlng.dat", &bytes_));
    std::wstring error;
    ASSERT_TRUE(kxcore::ParseLanguageTable(bytes_, &table_, &error)) << kxtest::Narrow(error);
    kxcore::ClearVariables();
    kxcore::SetActiveLanguageTable(table_);
  }

  std::string bytes_;
  kxcore::LanguageTable table_;
};

TEST_F(ShippedLanguageTest, HasItsHeaderCrLfLinesAndOneHundredFifteenKeys) {
  const std::string header = "[KXLang]\r\nEnglish\r\n1033\r\n#";
  EXPECT_EQ(bytes_.compare(0, header.size(), header), 0);
  size_t lines = 0;
  for (size_t i = 0; i < bytes_.size(); ++i) {
    if (bytes_[i] != '\n') continue;
    ++lines;
    EXPECT_TRUE(i > 0 && bytes_[i - 1] == '\r') << "a line without CR at byte " << i;
  }
  // kxpack left out the keys only it reads (#pkg...) and the editors'
  // comments (';' lines).
  EXPECT_EQ(lines, 3u + 115u);
  EXPECT_EQ(bytes_.find("#pkg"), std::string::npos);
  EXPECT_EQ(bytes_.find("\n;"), std::string::npos);
  EXPECT_EQ(table_.name, L"English");
  EXPECT_EQ(table_.languageId, 1033u);
  EXPECT_EQ(table_.texts.size(), 115u);
  for (const auto& entry : table_.texts) {
    // Keys are written in lower case in the file itself.
    std::string key = kxtest::Narrow(entry.first);
    EXPECT_NE(bytes_.find("\r\n" + key + "="), std::string::npos) << key;
  }
}

TEST_F(ShippedLanguageTest, TheProgramsKeysHaveTheirExactEnglishTexts) {
  const std::pair<const wchar_t*, const wchar_t*> keys[] = {
      {L"#Next", L"&Next >"},
      {L"#Back", L"< &Back"},
      {L"#Cancel", L"&Cancel"},
      {L"#Yes", L"&Yes"},
      {L"#No", L"&No"},
      {L"#Browse", L"Bro&wse"},
      {L"#Close", L"C&lose"},
      {L"#LicIntro",
       L"Please read the following license agreement. Press the PAGE DOWN key to see the rest of the agreement."},
      {L"#LicEnd",
       L"Do you accept all of the terms of the preceding License Agreement? If you choose No, the package will "
       L"close. To continue, you must accept this agreement."},
      {L"#WizLicAgTitle", L"License Agreement"},
      {L"#WizDirTitle", L"Destination Folder for Files"},
      {L"#BrowseFolders", L"Please select the destination folder where the package should extract the files:"},
      {L"#AskBrowseFolders", L"Please select the destination folder:"},
      {L"#FolderWarning", L"You must specify a destination folder before continuing!"},
      {L"#SelectMenuFolder", L"Please select the start menu folder where to place shortcuts:"},
      {L"#WizShortcutTitle", L"Select Start Menu Folder"},
      {L"#WizShortcutDesc",
       L"Select the Start Menu folder in which you would like to place the shortcuts of the program:"},
      {L"#WizProgressTitle", L"Unpacking Files"},
      {L"#WizProgressDesc", L"Please wait while the package files are being extracted onto your computer..."},
      {L"#Extracting", L"Extracting %EXTNAME%..."},
      {L"#askcancelext", L"Do you really want to abort the extraction process?"},
      {L"#errorcreatefile", L"Cannot open file for writing: "},
      {L"#errorwritefile", L"Cannot write data to file: "},
      {L"#ErrorUnpacking", L"An unexpected error occurred while unpacking file(s). Error code:"},
      {L"#ErrorGUFailed", L"Error: could not generate uninstaller."},
      {L"#AnotherInstance",
       L"Another setup or uninstall of %APPTITLE% is running. Wait until it has finished, then try again."},
      {L"#Bytes", L"bytes"},
      {L"#Modified", L"modified:"},
      {L"#Uninstalling", L"Uninstalling"},
      {L"#UninstallProgress", L"Please wait while removing the changes performed by the package on your computer..."},
      {L"#UninstallPrompt", L"Do you really want to uninstall the \"%APPTITLE%\" package?"},
      {L"#UninstallAdminReq",
       L"Sorry, only a user with administrative privileges may uninstall this package. Operation aborted."},
      {L"#UninstallFinal", L"The changes made by the \"%APPTITLE%\" package were successfully removed!"},
  };
  for (const auto& key : keys) {
    const std::wstring* text = kxcore::FindLanguageText(key.first);
    ASSERT_NE(text, nullptr) << kxtest::Narrow(key.first);
    EXPECT_EQ(*text, key.second) << kxtest::Narrow(key.first);
  }
}

TEST_F(ShippedLanguageTest, HoldsTheTextsOfTheLibrarysOwnDialogsAndMessages) {
  for (const wchar_t* key :
       {L"#overwriteprompt", L"#overwriteit", L"#skipit", L"#yestoall", L"#notoall", L"#dothisconflicts",
        L"#confirmreplace", L"#invalidfilename", L"#cmdlineusage", L"#cmdlineunknown", L"#cmdlinelogrefused",
        L"#uninstlogmissing", L"#uninstlogdamaged", L"#errorgenuninst", L"#errordialogdata", L"#errornodialog",
        L"#errorshowdialog", L"#errorprogressbox", L"#wizdirnote", L"#wizgroupnote", L"#selectlanguagetitle",
        L"#selectlanguage"}) {
    const std::wstring* text = kxcore::FindLanguageText(key);
    EXPECT_TRUE(text && !text->empty()) << kxtest::Narrow(key);
  }
}

TEST_F(ShippedLanguageTest, KeysAreFoundWhateverTheirCase) {
  for (const wchar_t* spelling : {L"#next", L"#Next", L"#NEXT", L"#nExT"})
    EXPECT_EQ(kxcore::Evaluate(spelling), L"&Next >") << kxtest::Narrow(spelling);
  EXPECT_EQ(kxcore::Evaluate(L"#UNINSTALLING and #uninstalling"), L"Uninstalling and Uninstalling");
  EXPECT_EQ(kxcore::Evaluate(L"#nosuchkey"), L"#nosuchkey");
}

TEST_F(ShippedLanguageTest, ExtractingShowsTheCurrentEntryName) {
  kxcore::SetVariable(L"KXEXTTEXT", L"#Extracting");
  kxcore::SetVariable(L"EXTNAME", L"docs/LICENSE.txt");
  EXPECT_EQ(kxcore::Evaluate(L"%KXEXTTEXT%"), L"Extracting docs/LICENSE.txt...");
  kxcore::SetVariable(L"EXTNAME", L"samples/templates/letter.qmk");
  EXPECT_EQ(kxcore::Evaluate(L"%KXEXTTEXT%"), L"Extracting samples/templates/letter.qmk...");
  EXPECT_EQ(kxcore::Evaluate(L"#extracting"), L"Extracting samples/templates/letter.qmk...");
}

}  // namespace
