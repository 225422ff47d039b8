// Script variables and the evaluation of script texts.
#include <gtest/gtest.h>

#include "core/language_table.h"
#include "core/variables.h"

using kxcore::Evaluate;
using kxcore::SetVariable;

namespace {

class Variables : public ::testing::Test {
 protected:
  void SetUp() override {
    kxcore::ClearVariables();
    kxcore::LanguageTable table;
    table.texts[L"#next"] = L"&Next >";
    table.texts[L"#extracting"] = L"Extracting %EXTNAME%...";
    table.texts[L"#bytes"] = L"bytes";
    table.texts[L"#modified"] = L"modified:";
    table.texts[L"#prompt"] = L"Uninstall \"%APPTITLE%\"?";
    kxcore::SetActiveLanguageTable(std::move(table));
  }
};

}  // namespace

TEST_F(Variables, ExpandsReferencesWhenSetSoLaterChangesDoNotLeakIn) {
  SetVariable(L"DLGSELPATH", L"C:\\Chosen");
  SetVariable(L"DESTPATH", L"%DLGSELPATH%");
  SetVariable(L"DLGSELPATH", L"C:\\Start Menu");
  EXPECT_EQ(L"C:\\Chosen", Evaluate(L"%DESTPATH%"));
}

TEST_F(Variables, SelfReferenceIsExpandedFromTheOldValue) {
  SetVariable(L"ROOT", L"C:\\Menu");
  SetVariable(L"DLGSELPATH", L"Quillmark");
  SetVariable(L"DLGSELPATH", L"%ROOT%\\%DLGSELPATH%");
  EXPECT_EQ(L"C:\\Menu\\Quillmark", Evaluate(L"%DLGSELPATH%"));
}

TEST_F(Variables, LanguageKeysResolveWithoutRegardToCaseAndMayHoldReferences) {
  EXPECT_EQ(L"&Next >", Evaluate(L"#Next"));
  EXPECT_EQ(L"&Next >", Evaluate(L"#NEXT"));
  SetVariable(L"KXEXTTEXT", L"#Extracting");
  SetVariable(L"EXTNAME", L"a/b.txt");
  EXPECT_EQ(L"Extracting a/b.txt...", Evaluate(L"%KXEXTTEXT%"));
  SetVariable(L"EXTNAME", L"c.txt");  // the current value, at evaluation
  EXPECT_EQ(L"Extracting c.txt...", Evaluate(L"%KXEXTTEXT%"));
}

TEST_F(Variables, KeysInsideLongerTexts) {
  SetVariable(L"APPTITLE", L"Quillmark Toolkit Setup (64-bit)");
  EXPECT_EQ(L"Uninstall \"Quillmark Toolkit Setup (64-bit)\"?", Evaluate(L"#Prompt"));
  SetVariable(L"CURFILENAME", L"a.txt");
  EXPECT_EQ(L"a.txt (%lld bytes), modified: %02d/%02d/%d %02d:%02d",
            Evaluate(L"%CURFILENAME% (%lld #Bytes), #Modified %02d/%02d/%d %02d:%02d"));
}

TEST_F(Variables, WhatIsNotAReferenceOrKeyStaysAsWritten) {
  EXPECT_EQ(L"%NEVERSET%", Evaluate(L"%NEVERSET%"));
  EXPECT_EQ(L"#nosuchkey", Evaluate(L"#nosuchkey"));
  EXPECT_EQ(L"50% off", Evaluate(L"50% off"));
  EXPECT_EQ(L"100%", Evaluate(L"100%%"));
  EXPECT_EQ(L"%%", Evaluate(L"%%%%"));
  EXPECT_EQ(L"# and %", Evaluate(L"# and %"));
  SetVariable(L"SAVED", L"100%% sure");
  EXPECT_EQ(L"100% sure", Evaluate(L"%SAVED%"));
  // "##" is a literal '#': a folder named like a key stays a folder name,
  // also when the value is copied into another variable first.
  SetVariable(L"FOLDER", L"C:\\##Prompt\\50%%");
  SetVariable(L"COPY", L"%FOLDER%\\x");
  EXPECT_EQ(L"C:\\#Prompt\\50%\\x", Evaluate(L"%COPY%"));
  // Also when stored: a folder "Chosen 100%" must not lose its sign.
  SetVariable(L"SAVED", L"C:\\Chosen 100%\\Quill");
  EXPECT_EQ(L"C:\\Chosen 100%\\Quill", Evaluate(L"%SAVED%"));
}

TEST_F(Variables, NamesCompareWithoutRegardToCase) {
  SetVariable(L"destpath", L"C:\\x");
  EXPECT_EQ(L"C:\\x", Evaluate(L"%DESTPATH%"));
}

TEST_F(Variables, PinnedVariablesKeepTheirValue) {
  kxcore::PinVariable(L"SILENT", L"1");
  SetVariable(L"SILENT", L"0");
  EXPECT_EQ(L"1", Evaluate(L"%SILENT%"));
}

TEST_F(Variables, ASelfReferringValueDoesNotRecurseForever) {
  SetVariable(L"LOOP", L"x%LOOP2%");
  SetVariable(L"LOOP2", L"%LOOP%");  // expands to "x%LOOP2%" at set time
  std::wstring result = Evaluate(L"%LOOP2%");
  EXPECT_EQ(L'x', result[0]);
  EXPECT_LT(result.size(), 100u);
}
