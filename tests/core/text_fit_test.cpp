// Every text of the runtime's dialogs fits its control, in every language
// the build ships and at 100, 150 and 200 %: measured with the font the
// engine gives the control at that DPI, as Windows draws it (a push button's
// text with its margins, a check box's beside its box, a one-line label on
// one line, a wrapped label within its height).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "core/dialog_data.h"
#include "core/dialog_layout.h"
#include "core/language_table.h"
#include "core/variables.h"
#include "tests/support/test_files.h"

namespace {

using namespace kxcore;

// What the programs set the dialogs' variables to (check_languages.py's
// VARIABLE_KEYS): keys, and the Quillmark package's names.
const std::pair<const wchar_t*, const wchar_t*> kVariables[] = {
    {L"KXDLGNEXTC", L"#next"},          {L"KXDLGLICCAPT", L"#wizlicagtitle"}, {L"KXDLGLICINTRO", L"#licintro"},
    {L"KXDLGLICEND", L"#licend"},       {L"KXDLGCAPTION", L"#wizdirtitle"},   {L"DLGSELPROMPT", L"#browsefolders"},
    {L"DLGSELPROMPT2", L"#askbrowsefolders"}, {L"KXRUNTASK1C", L"#runprogram"}, {L"KXRUNTASK2C", L"#openfolder"},
    {L"APPTITLE", L"Quillmark Toolkit Setup (64-bit)"},
    // The destination page's space lines at their widest.
    {L"KXSPACENEEDED", L"1023.9 MB"},   {L"KXSPACEFREE", L"65535.9 GB"},
};

// Margins Windows keeps around a text, in units at 96 DPI, as the engine
// reckons them when it grows a control: a push button's edge and focus
// rectangle on each side, a check box's box and its gap.
constexpr int kButtonMargin = 4;
constexpr int kCheckBoxLead = 20;

struct Table {
  std::wstring file;
  LanguageTable texts;
};

// Every table of the runtime, each over the English one as the library lays
// it.
std::vector<Table> ShippedTables(const std::wstring& runtime) {
  std::vector<Table> tables;
  LanguageTable english;
  std::wstring error;
  EXPECT_TRUE(ParseLanguageTable(kxtest::ReadBytes(runtime + L"\\kxlng.dat"), &english, &error));
  tables.push_back({L"kxlng.dat", english});
  for (const std::wstring& name : kxtest::ListFolder(runtime)) {
    if (name.compare(0, 5, L"kxlng") != 0 || name == L"kxlng.dat") continue;
    Table table{name, {}};
    EXPECT_TRUE(ParseTranslatedLanguageTable(kxtest::ReadBytes(runtime + L"\\" + name), &table.texts, &error))
        << kxtest::Narrow(name);
    table.texts.texts.insert(english.texts.begin(), english.texts.end());
    tables.push_back(table);
  }
  return tables;
}

std::vector<DialogSpec> Dialogs(const std::wstring& runtime) {
  std::vector<DialogSpec> dialogs;
  std::wstring error;
  EXPECT_TRUE(ParseDialogData(kxtest::ReadBytes(runtime + L"\\kxdlg.dat"), &dialogs, &error)) << kxtest::Narrow(error);
  return dialogs;
}

void Collect(const std::vector<ControlSpec>& controls, std::vector<const ControlSpec*>* texts) {
  for (const ControlSpec& control : controls) {
    if (control.kind == ControlKind::kButton || control.kind == ControlKind::kCheckBox ||
        control.kind == ControlKind::kRadio || control.kind == ControlKind::kLabel)
      texts->push_back(&control);
    Collect(control.children, texts);
  }
}

// The text's box as DrawText lays it out within width pixels.
RECT Measure(HDC dc, HFONT font, const std::wstring& text, int width, bool wrap) {
  HGDIOBJ old = SelectObject(dc, font);
  RECT box = {0, 0, width, 0};
  DrawTextW(dc, text.c_str(), -1, &box, DT_CALCRECT | (wrap ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, old);
  return box;
}

// "" when the control's text fits, else what does not.
std::string Problem(HDC dc, const DialogFonts& fonts, const ControlSpec& control, const std::wstring& text, UINT dpi) {
  const RECT scaled = ScaleBox(control.x, control.y, control.width, control.height, dpi);
  const int width = scaled.right - scaled.left, height = scaled.bottom - scaled.top;
  const HFONT font = fonts.Get((control.flags & kFlagHeading) ? FontRole::kHeading
                               : (control.flags & kFlagBold) ? FontRole::kBold
                                                             : FontRole::kNormal);
  // The engine's rule: a label less than one and a half lines high is one
  // line (with an ellipsis), any other wraps.
  const bool wraps = control.kind == ControlKind::kLabel && 2 * height >= 3 * fonts.LineHeight();
  int room = width;
  if (control.kind == ControlKind::kButton) room -= 2 * ScaleUnits(kButtonMargin, dpi);
  if (control.kind == ControlKind::kCheckBox || control.kind == ControlKind::kRadio)
    room -= ScaleUnits(kCheckBoxLead, dpi);
  const RECT needed = Measure(dc, font, text, room, wraps);
  if (needed.right <= room && needed.bottom <= height) return "";
  return std::to_string(needed.right) + " x " + std::to_string(needed.bottom) + " pixels in " +
         std::to_string(room) + " x " + std::to_string(height);
}

TEST(TextFit, EveryDialogTextFitsItsControlInEveryLanguageAtEveryScale) {
  const std::wstring setupRuntime = kxtest::TestDataPath("KX_TEST_RUNTIME");
  const std::wstring uninstRuntime = kxtest::TestDataPath("KX_TEST_RUNTIME_UNINST");
  const std::vector<Table> tables = ShippedTables(setupRuntime);
  ASSERT_GE(tables.size(), 14u);
  std::vector<std::pair<std::wstring, DialogSpec>> dialogs;
  for (const DialogSpec& dialog : Dialogs(setupRuntime)) dialogs.push_back({L"setup", dialog});
  for (const DialogSpec& dialog : Dialogs(uninstRuntime)) dialogs.push_back({L"uninstall", dialog});
  ASSERT_EQ(dialogs.size(), 9u);

  HDC dc = CreateCompatibleDC(nullptr);
  size_t measured = 0;
  for (UINT dpi : {96u, 144u, 192u}) {
    DialogFonts fonts;
    fonts.Create(dpi);
    for (const Table& table : tables) {
      ClearVariables();
      SetActiveLanguageTable(table.texts);
      for (const auto& variable : kVariables) SetVariable(variable.first, variable.second);
      // The label at the foot: kxpack's wizard label of a package of that
      // name, in English (a package's own text is its own to fit).
      SetVariable(L"KXWIZLABEL", L"Quillmark Toolkit Setup");
      for (const auto& [program, dialog] : dialogs) {
        std::vector<const ControlSpec*> controls;
        Collect(dialog.controls, &controls);
        for (const ControlSpec* control : controls) {
          const std::wstring text = Evaluate(control->text);
          // Empty, or a file name the extraction sets: shown with an ellipsis.
          if (text.empty() || text.find(L'%') != std::wstring::npos) continue;
          ++measured;
          const std::string problem = Problem(dc, fonts, *control, text, dpi);
          EXPECT_EQ(problem, "") << kxtest::Narrow(table.file) << ", " << kxtest::Narrow(program) << "/"
                                 << kxtest::Narrow(dialog.name) << ", control " << control->id << " at " << dpi
                                 << " DPI: \"" << kxtest::Narrow(text) << "\"";
        }
      }
    }
  }
  DeleteDC(dc);
  SetActiveLanguageTable(LanguageTable());
  ClearVariables();
  EXPECT_GT(measured, 14u * 3u * 30u);
}

}  // namespace
