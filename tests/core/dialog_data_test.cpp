// The kxdlg.dat grammar, malformed files built from a good one, and the
// dialogs the runtime ships.
#include <gtest/gtest.h>

#include <functional>

#include "core/dialog_data.h"
#include "tests/support/test_files.h"

namespace {

using kxcore::ControlKind;
using kxcore::ControlSpec;
using kxcore::DialogSpec;

std::string Lines(const std::vector<std::string>& lines, const char* ending = "\r\n") {
  std::string text;
  for (const std::string& line : lines) text += line + ending;
  return text;
}

// A small dialog with one record of every type, a nested panel, a negative
// position and an empty text; one field per line, numbered from 1.
std::vector<std::string> GoodDialog() {
  return {"[dlgsample]",                                              // 1
          "N",                                                         // 2
          "#KX.Dlg", "300", "200", "%APPTITLE%",                       // 3-6
          "#KX.But", "10", "160", "81", "25", "&OK", "1", "N",         // 7-14
          "#KX.Chk", "10", "130", "120", "20", "%TASKC%", "6", "N",    // 15-22
          "#KX.Edit", "10", "100", "200", "23", "", "20", "R",         // 23-30
          "#KX.Lab", "10", "80", "200", "16", "", "21", "-1", "G",     // 31-39
          "#KX.Cont", "0", "0", "300", "60", "4", "16777215", "C",     // 40-47
          "#KX.Lab", "10", "8", "200", "16", "#Title", "5", "16777215", "CB",  // 48-56
          "#KX.Cont", "-3", "58", "306", "2", "8", "4342338", "CR",    // 57-64
          "#KX.Img", "0", "0", "10", "2", "9", "x.bmp", "N",           // 65-72
          "#EndCont",                                                  // 73
          "#KX.Rich", "220", "4", "70", "50", "7", "%RTF%", "RF",      // 74-81
          "#EndCont",                                                  // 82
          "#KX.Prog", "10", "64", "280", "12", "3",                    // 83-88
          "#EndDlg"};                                                  // 89
}

DialogSpec ParseOne(const std::string& text) {
  std::vector<DialogSpec> dialogs;
  std::wstring error;
  EXPECT_TRUE(kxcore::ParseDialogData(text, &dialogs, &error)) << kxtest::Narrow(error);
  EXPECT_EQ(dialogs.size(), 1u);
  return dialogs.empty() ? DialogSpec() : dialogs[0];
}

TEST(DialogDataTest, ReadsEveryRecordTypeAndNestedPanels) {
  DialogSpec dialog = ParseOne(Lines(GoodDialog()));
  EXPECT_EQ(dialog.name, L"dlgsample");
  EXPECT_EQ(dialog.width, 300);
  EXPECT_EQ(dialog.height, 200);
  EXPECT_EQ(dialog.caption, L"%APPTITLE%");
  ASSERT_EQ(dialog.controls.size(), 6u);

  const ControlSpec& button = dialog.controls[0];
  EXPECT_EQ(button.kind, ControlKind::kButton);
  EXPECT_EQ(button.text, L"&OK");
  EXPECT_EQ(button.id, 1);
  EXPECT_EQ(button.flags, 0u);
  EXPECT_EQ(button.line, 7);
  EXPECT_EQ(dialog.controls[1].kind, ControlKind::kCheckBox);
  EXPECT_EQ(dialog.controls[2].kind, ControlKind::kEdit);
  EXPECT_EQ(dialog.controls[2].text, L"");
  EXPECT_EQ(dialog.controls[2].flags, static_cast<unsigned>(kxcore::kFlagReadOnly));

  const ControlSpec& label = dialog.controls[3];
  EXPECT_EQ(label.kind, ControlKind::kLabel);
  EXPECT_EQ(label.text, L"");
  EXPECT_EQ(label.colour, -1);
  EXPECT_EQ(label.flags, static_cast<unsigned>(kxcore::kFlagGrey));

  const ControlSpec& panel = dialog.controls[4];
  EXPECT_EQ(panel.kind, ControlKind::kPanel);
  EXPECT_EQ(panel.colour, 16777215);
  ASSERT_EQ(panel.children.size(), 3u);
  EXPECT_EQ(panel.children[0].flags, static_cast<unsigned>(kxcore::kFlagColour | kxcore::kFlagBold));
  const ControlSpec& rule = panel.children[1];
  EXPECT_EQ(rule.x, -3);
  EXPECT_EQ(rule.flags, static_cast<unsigned>(kxcore::kFlagColour | kxcore::kFlagReadOnly));
  ASSERT_EQ(rule.children.size(), 1u);
  EXPECT_EQ(rule.children[0].kind, ControlKind::kImage);
  EXPECT_EQ(rule.children[0].text, L"x.bmp");
  EXPECT_EQ(panel.children[2].kind, ControlKind::kRichText);
  EXPECT_EQ(panel.children[2].id, 7);
  EXPECT_EQ(panel.children[2].text, L"%RTF%");
  EXPECT_EQ(panel.children[2].flags, static_cast<unsigned>(kxcore::kFlagReadOnly | kxcore::kFlagFlat));

  EXPECT_EQ(dialog.controls[5].kind, ControlKind::kProgress);
  EXPECT_EQ(dialog.controls[5].id, 3);
  ASSERT_NE(kxcore::FindControl(dialog, 9), nullptr);  // two panels deep
  EXPECT_EQ(kxcore::FindControl(dialog, 9)->line, 65);
  EXPECT_EQ(kxcore::FindControl(dialog, 99), nullptr);
}

TEST(DialogDataTest, AcceptsLfEndingsBlankLinesBetweenDialogsAndAnEmptyFile) {
  std::vector<std::string> lines = GoodDialog();
  std::vector<std::string> two = lines;
  two.push_back("");
  std::vector<std::string> second = GoodDialog();
  second[0] = "[DlgOther]";
  two.insert(two.end(), second.begin(), second.end());
  std::vector<DialogSpec> dialogs;
  std::wstring error;
  ASSERT_TRUE(kxcore::ParseDialogData(Lines(two, "\n"), &dialogs, &error)) << kxtest::Narrow(error);
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(kxcore::FindDialog(dialogs, L"DLGOTHER"), &dialogs[1]);  // names compare without case
  EXPECT_EQ(kxcore::FindDialog(dialogs, L"dlgmissing"), nullptr);

  ASSERT_TRUE(kxcore::ParseDialogData("", &dialogs, &error));
  EXPECT_TRUE(dialogs.empty());
}

TEST(DialogDataTest, TextsKeepTheirBlanks) {
  std::vector<std::string> lines = GoodDialog();
  lines[11] = " &OK  ";
  EXPECT_EQ(ParseOne(Lines(lines)).controls[0].text, L" &OK  ");
}

struct Breakage {
  const char* what;
  std::function<void(std::vector<std::string>*)> change;
  int line;             // the line the message must name
  const char* message;  // a part of the message
};

TEST(DialogDataTest, RejectsMalformedDataNamingTheLine) {
  const Breakage cases[] = {
      {"no brackets", [](auto* l) { (*l)[0] = "dlgsample"; }, 1, "dialog name in brackets"},
      {"empty name", [](auto* l) { (*l)[0] = "[]"; }, 1, "dialog name in brackets"},
      {"empty flags", [](auto* l) { (*l)[1] = ""; }, 2, "flag letters"},
      {"unknown flag", [](auto* l) { (*l)[13] = "NX"; }, 14, "unknown flag letter 'X'"},
      {"lower-case flag", [](auto* l) { (*l)[13] = "n"; }, 14, "unknown flag letter 'n'"},
      {"no #KX.Dlg", [](auto* l) { (*l)[2] = "#KX.Dialog"; }, 3, "expected #KX.Dlg"},
      {"width not a number", [](auto* l) { (*l)[3] = "wide"; }, 4, "dialog width"},
      {"zero height", [](auto* l) { (*l)[4] = "0"; }, 5, "out of range"},
      {"digits and more", [](auto* l) { (*l)[7] = "10px"; }, 8, "decimal number"},
      {"a lone minus", [](auto* l) { (*l)[8] = "-"; }, 9, "y position"},
      {"huge number", [](auto* l) { (*l)[7] = "99999999999999"; }, 8, "out of range"},
      {"negative width", [](auto* l) { (*l)[9] = "-81"; }, 10, "out of range"},
      {"id beyond 16 bits", [](auto* l) { (*l)[12] = "65536"; }, 13, "out of range"},
      {"colour beyond RGB", [](auto* l) { (*l)[45] = "16777216"; }, 46, "out of range"},
      {"C without a colour", [](auto* l) { (*l)[38] = "C"; }, 31, "needs a background colour"},
      {"unknown record", [](auto* l) { (*l)[6] = "#KX.Button"; }, 7, "unknown record type"},
      {"missing field", [](auto* l) { l->erase(l->begin() + 11); }, 13, "control id"},
      {"missing text", [](auto* l) { l->erase(l->begin() + 5); }, 6, "found the record type #KX.But"},
      {"duplicate id", [](auto* l) { (*l)[20] = "1"; }, 15, "control id 1 is already used at line 7"},
      {"#EndCont too many", [](auto* l) { l->insert(l->begin() + 88, "#EndCont"); }, 89, "without an open panel"},
      {"panel not closed", [](auto* l) { l->erase(l->begin() + 81); }, 88, "begun at line 40 is still open"},
      {"cut in a record", [](auto* l) { l->resize(80); }, 81, "the file ends"},
      {"no #EndDlg", [](auto* l) { l->pop_back(); }, 89, "#EndDlg is missing"},
      {"defined twice",
       [](auto* l) {
         std::vector<std::string> again = GoodDialog();
         again[0] = "[DLGSAMPLE]";
         l->insert(l->end(), again.begin(), again.end());
       },
       90, "defined twice (first at line 1)"},
  };
  for (const Breakage& breakage : cases) {
    std::vector<std::string> lines = GoodDialog();
    breakage.change(&lines);
    std::vector<DialogSpec> dialogs = {DialogSpec()};
    std::wstring error;
    EXPECT_FALSE(kxcore::ParseDialogData(Lines(lines), &dialogs, &error)) << breakage.what;
    const std::string message = kxtest::Narrow(error);
    EXPECT_NE(message.find("kxdlg.dat, line " + std::to_string(breakage.line) + ":"), std::string::npos)
        << breakage.what << ": " << message;
    EXPECT_NE(message.find(breakage.message), std::string::npos) << breakage.what << ": " << message;
    EXPECT_EQ(dialogs.size(), 1u) << breakage.what << ": the caller's list was changed";
  }
}

std::vector<DialogSpec> ShippedDialogs(const char* runtimeVariable) {
  std::string bytes;
  EXPECT_TRUE(kxtest::ReadBytes(kxtest::TestDataPath(runtimeVariable) + L"\\kxdlg.dat", &bytes));
  std::vector<DialogSpec> dialogs;
  std::wstring error;
  EXPECT_TRUE(kxcore::ParseDialogData(bytes, &dialogs, &error)) << kxtest::Narrow(error);
  EXPECT_EQ(bytes.find("\n"), bytes.find("\r\n") + 1) << "CR LF line ends";
  return dialogs;
}

void ExpectControl(const DialogSpec& dialog, int id, ControlKind kind, const wchar_t* text) {
  const ControlSpec* control = kxcore::FindControl(dialog, id);
  ASSERT_NE(control, nullptr) << kxtest::Narrow(dialog.name) << " has no control " << id;
  EXPECT_EQ(control->kind, kind) << kxtest::Narrow(dialog.name) << " control " << id;
  if (text) {
    EXPECT_EQ(control->text, text) << kxtest::Narrow(dialog.name) << " control " << id;
  }
}

TEST(ShippedDialogsTest, SetupHasTheEightPagesWithTheirControls) {
  std::vector<DialogSpec> dialogs = ShippedDialogs("KX_TEST_RUNTIME");
  ASSERT_EQ(dialogs.size(), 8u);
  const struct {
    const wchar_t* name;
    const wchar_t* captions[3];
  } pages[] = {
      {L"dlgwizwelc", {L"%KXDLGNEXTC%", L"#Cancel", L"#Back"}},
      {L"dlgwizlicag", {L"#Yes", L"#No", L"#Back"}},
      {L"dlgwizseldir", {L"#Next", L"#Cancel", L"#Back"}},
      {L"dlgwizselgroup", {L"#Next", L"#Cancel", L"#Back"}},
      {L"dlgwizscope", {L"#Next", L"#Cancel", L"#Back"}},
      {L"dlgprogress", {L"#Next", L"#Cancel", L"#Back"}},
      {L"dlgwizfinal", {L"#Close", L"#Cancel", L"#Back"}},
      {L"dlgwiztasks", {L"#Next", L"#Cancel", L"#Back"}},
  };
  const int across[3] = {343, 443, 256};
  for (const auto& page : pages) {
    const DialogSpec* dialog = kxcore::FindDialog(dialogs, page.name);
    ASSERT_NE(dialog, nullptr) << kxtest::Narrow(page.name);
    EXPECT_EQ(dialog->width, 550);
    EXPECT_EQ(dialog->height, 400);
    EXPECT_EQ(dialog->caption, L"%APPTITLE%");
    for (int id = 1; id <= 3; ++id) {
      ExpectControl(*dialog, id, ControlKind::kButton, page.captions[id - 1]);
      const ControlSpec* button = kxcore::FindControl(*dialog, id);
      if (!button) continue;
      EXPECT_EQ(button->x, across[id - 1]) << kxtest::Narrow(page.name);
      EXPECT_EQ(button->y, 360);
      EXPECT_EQ(button->width, 88);
      EXPECT_EQ(button->height, 25);
    }
  }
  const DialogSpec& licence = *kxcore::FindDialog(dialogs, L"dlgwizlicag");
  ExpectControl(licence, 20, ControlKind::kRichText, L"%KXDLGLICTXT%");
  ExpectControl(licence, 21, ControlKind::kLabel, L"%KXDLGLICEND%");
  for (const wchar_t* name : {L"dlgwizseldir", L"dlgwizselgroup"}) {
    ExpectControl(*kxcore::FindDialog(dialogs, name), 20, ControlKind::kEdit, L"%DLGSELPATH%");
    ExpectControl(*kxcore::FindDialog(dialogs, name), 21, ControlKind::kButton, L"#Browse");
  }
  // The scope page's two choices are option buttons of one group.
  const DialogSpec& scope = *kxcore::FindDialog(dialogs, L"dlgwizscope");
  ExpectControl(scope, 30, ControlKind::kRadio, L"#ScopeAllUsers");
  ExpectControl(scope, 32, ControlKind::kRadio, L"#ScopeCurrentUser");
  ExpectControl(scope, 34, ControlKind::kLabel, L"#ScopeNoAdmin");
  // The tasks page: a check box for each task a package may declare, its
  // text set by the page's handler (an author's text is never a script text).
  const DialogSpec& tasks = *kxcore::FindDialog(dialogs, L"dlgwiztasks");
  for (int id = 30; id < 38; ++id) ExpectControl(tasks, id, ControlKind::kCheckBox, L"");
  EXPECT_EQ(kxcore::FindControl(tasks, 38), nullptr);
  ExpectControl(tasks, 13, ControlKind::kLabel, L"#WizTasksNote");
  const DialogSpec& progress = *kxcore::FindDialog(dialogs, L"dlgprogress");
  ExpectControl(progress, 20, ControlKind::kProgress, nullptr);
  ExpectControl(progress, 21, ControlKind::kLabel, L"");
  const DialogSpec& final = *kxcore::FindDialog(dialogs, L"dlgwizfinal");
  ExpectControl(final, 5, ControlKind::kRichText, L"%KXDLGRICHTEXT%");
  ExpectControl(final, 6, ControlKind::kCheckBox, L"%KXRUNTASK1C%");
  ExpectControl(final, 7, ControlKind::kCheckBox, L"%KXRUNTASK2C%");
  ExpectControl(final, 9, ControlKind::kImage, L"%KXWIZWATERM%");
}

TEST(ShippedDialogsTest, WelcomePageIsExactlyTheDocumentedOne) {
  std::vector<DialogSpec> dialogs = ShippedDialogs("KX_TEST_RUNTIME");
  const DialogSpec* welcome = kxcore::FindDialog(dialogs, L"dlgwizwelc");
  ASSERT_NE(welcome, nullptr);
  EXPECT_EQ(welcome->flags, 0u);
  ASSERT_EQ(welcome->controls.size(), 5u);
  const ControlSpec& panel = welcome->controls[3];
  EXPECT_EQ(panel.kind, ControlKind::kPanel);
  EXPECT_EQ(std::vector<int>({panel.x, panel.y, panel.width, panel.height, panel.id, panel.colour}),
            std::vector<int>({0, 0, 550, 345, 4, 16777215}));
  EXPECT_EQ(panel.flags, static_cast<unsigned>(kxcore::kFlagColour));
  ASSERT_EQ(panel.children.size(), 2u);
  const ControlSpec& rich = panel.children[0];
  EXPECT_EQ(std::vector<int>({rich.x, rich.y, rich.width, rich.height, rich.id}),
            std::vector<int>({190, 10, 340, 335, 5}));
  EXPECT_EQ(rich.text, L"%KXWELCRTF%");
  EXPECT_EQ(rich.flags, static_cast<unsigned>(kxcore::kFlagReadOnly | kxcore::kFlagFlat));
  const ControlSpec& image = panel.children[1];
  EXPECT_EQ(std::vector<int>({image.x, image.y, image.width, image.height, image.id}),
            std::vector<int>({0, 0, 180, 350, 6}));
  EXPECT_EQ(image.text, L"%KXWIZWATERM%");
  EXPECT_EQ(image.flags, 0u);
  const ControlSpec& rule = welcome->controls[4];
  EXPECT_EQ(std::vector<int>({rule.x, rule.y, rule.width, rule.height, rule.id, rule.colour}),
            std::vector<int>({-3, 345, 556, 2, 8, 4342338}));
  EXPECT_EQ(rule.flags, static_cast<unsigned>(kxcore::kFlagColour | kxcore::kFlagReadOnly));
  EXPECT_TRUE(rule.children.empty());
}

TEST(ShippedDialogsTest, UninstallerHasItsProgressBox) {
  std::vector<DialogSpec> dialogs = ShippedDialogs("KX_TEST_RUNTIME_UNINST");
  ASSERT_EQ(dialogs.size(), 1u);
  const DialogSpec& box = dialogs[0];
  EXPECT_EQ(box.name, L"dlgprogress");
  EXPECT_EQ(box.width, 400);
  EXPECT_EQ(box.height, 200);
  ExpectControl(box, 0, ControlKind::kButton, L"#Cancel");
  ExpectControl(box, 3, ControlKind::kProgress, nullptr);
  ExpectControl(box, 5, ControlKind::kPanel, nullptr);
  ExpectControl(box, 6, ControlKind::kLabel, L"#UninstallProgress");
  const ControlSpec* panel = kxcore::FindControl(box, 5);
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->colour, 16777215);
  ASSERT_FALSE(panel->children.empty());
  EXPECT_EQ(panel->children[0].id, 4);
  EXPECT_EQ(panel->children[0].text, L"#Uninstalling");
}

}  // namespace
