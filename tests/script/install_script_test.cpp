// The install script's sequence, with the core library's pages answered as
// each test scripts them and the extraction engine replaced by a stand-in.
// Shortcut folders and the uninstall entry are real (scratch folders and the
// package's own key under HKEY_LOCAL_MACHINE, removed afterwards).
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/exit_codes.h"
#include "base/path_services.h"
#include "core/kxcore.h"
#include "core/variables.h"
#include "extract/folder_creation.h"
#include "launcher/install_scope.h"
#include "launcher/launcher_main.h"
#include "launcher/package_data.h"
#include "script/install_script.h"
#include "script/page_handlers.h"
#include "script/script_state.h"
#include "tests/script/extraction_double.h"
#include "tests/script/script_test_support.h"
#include "tests/support/fake_core.h"
#include "tests/support/package_files.h"
#include "tests/support/test_files.h"

namespace {

using kxtest::Eval;
using kxtest::Fake;
using kxtest::LogRecord;

const std::wstring kKey = kxtest::kShippedUninstallKey;

// What a page saw when it was shown.
struct Visit {
  std::wstring page;
  int counter;
  KxDialogHandler handler;
};

struct Answer {
  const wchar_t* page;
  int result;
  std::function<void()> whileShown;  // runs while the page is "open"
};

std::wstring Stored(const wchar_t* name) {
  std::wstring value;
  return kxcore::GetVariable(name, &value) ? value : L"<unset>";
}

class InstallScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, folder);
    savedDirectory_ = folder;
    programFiles_ = scratch_ / L"Program Files";
    startRoot_ = scratch_ / L"Programs";
    runtime_ = scratch_ / L"kx0000BEEF\\";
    CreateDirectoryW(runtime_.c_str(), nullptr);
    Restart();
  }

  // A fresh run: no variables but the core library's and the launcher's, no
  // Start-menu folder of the package, no uninstall entry.
  void Restart() {
    kxtest::ResetFake();
    kxtest::UseShippedPackage();
    kxtest::ResetExtraction();
    kxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kKey);
    kxtest::RemoveTree(startRoot_);
    CreateDirectoryW(startRoot_.c_str(), nullptr);
    visits_.clear();
    answers_.clear();
    boxes_.Clear();

    wcscpy(g_launcher.title, L"Quillmark Toolkit Setup (64-bit)");
    wcscpy(g_launcher.modulePath, L"C:\\packages\\setup.exe");
    g_launcher.container.offset = 0x4200;
    g_uninstallLogging = false;
    g_pageCounter = -99;
    SetVar(L"PROGFILESDIR", programFiles_.c_str());
    SetVar(L"COMPROGMENUDIR", startRoot_.c_str());
    SetVar(L"KXSFXPATH", runtime_.c_str());
    SetVar(L"APPTITLE", g_launcher.title);
    // The uninstaller the shipped runtime carries.
    ASSERT_TRUE(CopyFileW((kxtest::TestDataPath("KX_TEST_RUNTIME") + L"\\kxremove.dat").c_str(),
                          (runtime_ + L"kxremove.dat").c_str(), FALSE));
    // InitSFX's choice of language.
    SetVar(L"SELLANG", L"English");
    SetVar(L"KXLANGID", L"1033");

    Fake().showDialogBox = [this](const wchar_t* name, KxDialogHandler handler) {
      visits_.push_back({name, g_pageCounter, handler});
      if (answers_.empty()) {
        ADD_FAILURE() << "unexpected page " << kxtest::Narrow(name);
        return static_cast<int>(KX_PAGE_ABORT);
      }
      Answer answer = answers_.front();
      answers_.pop_front();
      EXPECT_EQ(std::wstring(name), answer.page);
      if (answer.whileShown) answer.whileShown();
      return answer.result;
    };
  }

  void TearDown() override {
    SetCurrentDirectoryW(savedDirectory_.c_str());
    kxtest::DeleteRegTree(HKEY_LOCAL_MACHINE, kKey);
    g_uninstallLogging = false;
  }

  void Answers(std::vector<Answer> answers) { answers_.assign(answers.begin(), answers.end()); }
  void AllNext() {
    Answers({{L"dlgwizwelc", 1}, {L"dlgwizlicag", 1}, {L"dlgwizseldir", 1}, {L"dlgwizselgroup", 1},
             {L"dlgwizfinal", 1}});
  }
  std::vector<std::wstring> PagesShown() const {
    std::vector<std::wstring> pages;
    for (const Visit& visit : visits_) pages.push_back(visit.page);
    return pages;
  }
  std::vector<int> Counters() const {
    std::vector<int> counters;
    for (const Visit& visit : visits_) counters.push_back(visit.counter);
    return counters;
  }
  std::vector<LogRecord> RecordsOfKind(int kind) const {
    std::vector<LogRecord> records;
    for (const LogRecord& record : Fake().log)
      if (record.kind == kind) records.push_back(record);
    return records;
  }
  bool EntryRegistered() const { return kxtest::RegKeyPresent(HKEY_LOCAL_MACHINE, kKey); }

  kxtest::ComScope com_;
  kxtest::MessageBoxRecorder boxes_;
  kxtest::ScratchFolder scratch_;
  std::wstring savedDirectory_;
  std::wstring programFiles_;
  std::wstring startRoot_;
  std::wstring runtime_;
  std::deque<Answer> answers_;
  std::vector<Visit> visits_;
};

TEST_F(InstallScriptTest, NextThroughEveryPageInstallsRegistersAndEndsWithZero) {
  AllNext();
  kxtest::Extraction().run = [](const kxtest::ExtractCall&) {
    g_extractedFileCount = 5;
    return kExtractDone;
  };

  EXPECT_EQ(RunInstallScript(), 0);

  EXPECT_EQ(PagesShown(), (std::vector<std::wstring>{L"dlgwizwelc", L"dlgwizlicag", L"dlgwizseldir",
                                                     L"dlgwizselgroup", L"dlgwizfinal"}));
  EXPECT_EQ(Counters(), (std::vector<int>{0, 1, 2, 3, 0}));
  EXPECT_EQ(visits_[0].handler, &WelcomePageHandler);
  EXPECT_EQ(visits_[1].handler, &LicensePageHandler);
  EXPECT_EQ(visits_[2].handler, &DestinationPageHandler);
  EXPECT_EQ(visits_[3].handler, &StartMenuPageHandler);
  EXPECT_EQ(visits_[4].handler, &FinalPageHandler);
  EXPECT_EQ(Fake().manageCalls, (std::vector<int>{KX_LOG_BEGIN, KX_LOG_COMMIT}));
  EXPECT_TRUE(g_uninstallLogging);

  ASSERT_EQ(kxtest::Extraction().calls.size(), 1u);
  const kxtest::ExtractCall& call = kxtest::Extraction().calls[0];
  EXPECT_EQ(call.archivePath, L"C:\\packages\\setup.exe");
  EXPECT_EQ(call.destination, programFiles_ + L"\\Quillmark");
  EXPECT_TRUE(call.hasOffset);
  EXPECT_EQ(call.offset, 0x4200u + 18u);
  EXPECT_EQ(call.silent, 0);
  EXPECT_EQ(call.progressHandler, &ProgressBoxHandler);
  EXPECT_EQ(call.hook, &InstallFileHook);
  EXPECT_EQ(Stored(L"TOTALEXTFILE"), L"5");

  // The Start-menu folder did not exist: logged by the folder service and
  // once more by the script, then the shortcut, then the entry's records.
  const std::wstring shortcutFolder = startRoot_ + L"\\Quillmark";
  ASSERT_EQ(Fake().log.size(), 27u);
  EXPECT_EQ(Fake().log[0], (LogRecord{KX_LOG_FOLDER, shortcutFolder}));
  EXPECT_EQ(Fake().log[1], (LogRecord{KX_LOG_FOLDER, shortcutFolder}));
  EXPECT_EQ(Fake().log[2], (LogRecord{KX_LOG_FILE, shortcutFolder + L"\\Quillmark Toolkit.lnk"}));
  EXPECT_EQ(Fake().log[3].kind, KX_LOG_REGVALUE);
  EXPECT_EQ(Fake().log[26], (LogRecord{KX_LOG_REGKEY, L"HKEY_LOCAL_MACHINE\\" + kKey}));
  EXPECT_TRUE(kxtest::FolderExists(shortcutFolder));
  EXPECT_EQ(kxtest::ReadRegValue(HKEY_LOCAL_MACHINE, kKey, L"UninstallString").Text(),
            programFiles_ + L"\\Quillmark\\Uninst.exe");
  EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(InstallScriptTest, SetsThePackageVariables) {
  std::wstring dest = programFiles_ + L"\\Quillmark";
  Answers({{L"dlgwizwelc", 1,
            [&] {
              EXPECT_EQ(Eval(L"%KXWELCRTF%"), runtime_ + L"\\kxwelcEnglish.rtf");
              EXPECT_EQ(Eval(L"%KXWIZWATERM%"), runtime_ + L"\\kxwaterm.bmp");
              EXPECT_EQ(Stored(L"KXDLGNEXTC"), L"#Next");
              EXPECT_EQ(Stored(L"SILENT"), L"0");
              EXPECT_EQ(Stored(L"ARCFILEVER"), L"2020.01.15.01");
              EXPECT_EQ(Stored(L"ARCPRODVER"), L"2020.01.15.01");
              EXPECT_EQ(Stored(L"SELLANG"), L"English");
              EXPECT_EQ(Stored(L"KXLANGID"), L"1033");
              EXPECT_EQ(Stored(L"VCOMPMAIN"), L"1");
              EXPECT_EQ(Stored(L"KXDLGWIZLOOK"), L"1");
              EXPECT_EQ(Stored(L"KXWIZLABEL"), L"Quillmark Toolkit Setup");
              EXPECT_EQ(Stored(L"KXUNINSTREGKEY"), kKey);
              EXPECT_EQ(Stored(L"NEEDREBOOT"), L"0");
              EXPECT_EQ(Stored(L"EXITCODE"), L"0");
            }},
           {L"dlgwizlicag", 1,
            [&] {
              EXPECT_EQ(Eval(L"%KXDLGLICTXT%"), runtime_ + L"\\kxlicEnglish.rtf");
              EXPECT_EQ(Eval(L"%KXWIZHEADER%"), runtime_ + L"\\kxheader.bmp");
              EXPECT_EQ(Stored(L"KXDLGLICINTRO"), L"#LicIntro");
              EXPECT_EQ(Stored(L"KXDLGLICEND"), L"#LicEnd");
              EXPECT_EQ(Stored(L"KXDLGLICCAPT"), L"#WizLicAgTitle");
            }},
           {L"dlgwizseldir", 1,
            [&] {
              EXPECT_EQ(Eval(L"%DLGSELPATH%"), dest);
              EXPECT_EQ(Stored(L"DLGSELPROMPT"), L"#BrowseFolders");
              EXPECT_EQ(Stored(L"KXDLGCAPTION"), L"#WizDirTitle");
              EXPECT_EQ(Stored(L"DLGSELPROMPT2"), L"#AskBrowseFolders");
            }},
           {L"dlgwizselgroup", 1,
            [&] {
              EXPECT_EQ(Eval(L"%DLGSELPATH%"), startRoot_ + L"\\Quillmark");
              EXPECT_EQ(Eval(L"%KXSHORTCUTROOT%"), startRoot_);
            }},
           {L"dlgwizfinal", 1, [&] {
              EXPECT_EQ(Eval(L"%KXDLGRICHTEXT%"), runtime_ + L"\\kxfinEnglishsrv.rtf");
              EXPECT_EQ(Eval(L"%UNINSTFNAME%"), dest + L"\\Uninst.exe");
              EXPECT_EQ(Stored(L"UNINSTKEY"), L"Quillmark Toolkit812953");
              EXPECT_EQ(Stored(L"UNINSTDESC"), L"Quillmark Toolkit");
              EXPECT_EQ(Stored(L"KXUNINSTADD"), L"1");
              EXPECT_EQ(Stored(L"KXEXTTEXT"), L"#Extracting");
              EXPECT_EQ(Stored(L"KXEXTHC"), L"0");
            }}});
  EXPECT_EQ(RunInstallScript(), 0);
  EXPECT_TRUE(answers_.empty());
}

// The language InitSFX chose names the pages and picks the package's label;
// the entry records it for the uninstaller.
TEST_F(InstallScriptTest, ThePagesAndTheLabelFollowTheRunsLanguage) {
  g_package.languages.count = 2;
  g_package.languages.ids[0] = 1033;
  g_package.languages.ids[1] = 1041;
  g_package.languages.textCount = 1;
  g_package.languages.texts[0] = {};
  g_package.languages.texts[0].languageId = 1041;
  wcscpy(g_package.languages.texts[0].wizardLabel, L"Quillmark Toolkit \u30BB\u30C3\u30C8\u30A2\u30C3\u30D7");
  SetVar(L"SELLANG", L"Japanese");
  SetVar(L"KXLANGID", L"1041");
  Answers({{L"dlgwizwelc", 1,
            [&] {
              EXPECT_EQ(Eval(L"%KXWELCRTF%"), runtime_ + L"\\kxwelcJapanese.rtf");
              EXPECT_EQ(Eval(L"%KXWIZLABEL%"), L"Quillmark Toolkit \u30BB\u30C3\u30C8\u30A2\u30C3\u30D7");
            }},
           {L"dlgwizlicag", 1, [&] { EXPECT_EQ(Eval(L"%KXDLGLICTXT%"), runtime_ + L"\\kxlicJapanese.rtf"); }},
           {L"dlgwizseldir", 1},
           {L"dlgwizselgroup", 1},
           {L"dlgwizfinal", 1, [&] { EXPECT_EQ(Eval(L"%KXDLGRICHTEXT%"), runtime_ + L"\\kxfinJapanesesrv.rtf"); }}});
  EXPECT_EQ(RunInstallScript(), 0);
  EXPECT_TRUE(answers_.empty());
  EXPECT_EQ(Fake().languageBoxesShown, 0);  // the package does not ask
  EXPECT_EQ(kxtest::ReadRegValue(HKEY_LOCAL_MACHINE, kKey, L"Language").Dword(), 1041u);
}

// A package that asks shows the language box before anything else; Cancel
// there ends the run with 2 before a page or a change.
TEST_F(InstallScriptTest, APackageThatAsksShowsTheLanguageBoxFirst) {
  g_package.languages.ask = 1;
  Fake().languageBox = KX_PAGE_CANCEL;
  EXPECT_EQ(RunInstallScript(), kExitCancelled);
  EXPECT_EQ(Fake().languageBoxesShown, 1);
  EXPECT_TRUE(PagesShown().empty());
  EXPECT_FALSE(EntryRegistered());

  Restart();
  g_package.languages.ask = 1;
  Fake().languageBox = KX_PAGE_ABORT;
  EXPECT_EQ(RunInstallScript(), kExitAborted);
  EXPECT_TRUE(PagesShown().empty());

  Restart();
  g_package.languages.ask = 1;
  AllNext();
  EXPECT_EQ(RunInstallScript(), 0);
  EXPECT_EQ(Fake().languageBoxesShown, 1);
  EXPECT_EQ(PagesShown().size(), 5u);
}

TEST_F(InstallScriptTest, ChosenFoldersBecomeTheDestinationAndTheShortcutFolder) {
  const std::wstring chosen = scratch_ / L"Chosen";
  const std::wstring group = startRoot_ + L"\\Tools\\Quill";
  Answers({{L"dlgwizwelc", 1},
           {L"dlgwizlicag", 1},
           {L"dlgwizseldir", 1, [&] { SetVar(L"DLGSELPATH", chosen.c_str()); }},
           {L"dlgwizselgroup", 1, [&] { SetVar(L"DLGSELPATH", group.c_str()); }},
           {L"dlgwizfinal", 1}});
  EXPECT_EQ(RunInstallScript(), 0);

  ASSERT_EQ(kxtest::Extraction().calls.size(), 1u);
  EXPECT_EQ(kxtest::Extraction().calls[0].destination, chosen);
  // DESTPATH keeps the folder although DLGSELPATH was used again.
  EXPECT_EQ(Eval(L"%DESTPATH%"), chosen);
  EXPECT_EQ(Eval(L"%SHORTCUTPATH%"), group);
  // A missing parent is logged once, the shortcut folder itself twice.
  std::vector<LogRecord> folders = RecordsOfKind(KX_LOG_FOLDER);
  EXPECT_EQ(folders, (std::vector<LogRecord>{{KX_LOG_FOLDER, startRoot_ + L"\\Tools"},
                                             {KX_LOG_FOLDER, group},
                                             {KX_LOG_FOLDER, group}}));
  EXPECT_EQ(RecordsOfKind(KX_LOG_FILE),
            (std::vector<LogRecord>{{KX_LOG_FILE, group + L"\\Quillmark Toolkit.lnk"}}));
  EXPECT_EQ(kxtest::ReadRegValue(HKEY_LOCAL_MACHINE, kKey, L"DisplayIcon").Text(), chosen + L"\\Uninst.exe,0");
}

TEST_F(InstallScriptTest, AnExistingStartMenuFolderIsNotLogged) {
  ASSERT_TRUE(CreateDirectoryW((startRoot_ + L"\\Quillmark").c_str(), nullptr));
  AllNext();
  EXPECT_EQ(RunInstallScript(), 0);
  EXPECT_TRUE(RecordsOfKind(KX_LOG_FOLDER).empty());
  EXPECT_EQ(Fake().log.front(), (LogRecord{KX_LOG_FILE, startRoot_ + L"\\Quillmark\\Quillmark Toolkit.lnk"}));
}

TEST_F(InstallScriptTest, BackReturnsToThePreviousBlockWithItsSettingsRunAgain) {
  const std::wstring chosen = scratch_ / L"Chosen";
  Answers({{L"dlgwizwelc", 3},  // no page before: counts as Next
           {L"dlgwizlicag", 3},
           {L"dlgwizwelc", 1},
           {L"dlgwizlicag", 1},
           {L"dlgwizseldir", 1, [&] { SetVar(L"DLGSELPATH", chosen.c_str()); }},
           {L"dlgwizselgroup", 3},
           {L"dlgwizseldir", 1, [&] { EXPECT_EQ(Eval(L"%DLGSELPATH%"), chosen); }},
           {L"dlgwizselgroup", 1},
           {L"dlgwizfinal", 3},
           {L"dlgwizfinal", 1}});
  EXPECT_EQ(RunInstallScript(), 0);
  EXPECT_TRUE(answers_.empty());
  EXPECT_EQ(Counters(), (std::vector<int>{0, 1, 0, 1, 2, 3, 2, 3, 0, 0}));
  // Back from the final page registers the package once more.
  EXPECT_EQ(Fake().manageCalls, (std::vector<int>{KX_LOG_BEGIN, KX_LOG_COMMIT, KX_LOG_COMMIT}));
  EXPECT_EQ(RecordsOfKind(KX_LOG_REGVALUE).size(), 24u);
  EXPECT_EQ(kxtest::Extraction().calls.size(), 1u);
}

TEST_F(InstallScriptTest, CancelOnAnyWizardPageEndsWithTwoAndNothingInstalled) {
  const wchar_t* pages[] = {L"dlgwizwelc", L"dlgwizlicag", L"dlgwizseldir", L"dlgwizselgroup"};
  for (int cancelled = 0; cancelled < 4; ++cancelled) {
    SCOPED_TRACE(kxtest::Narrow(pages[cancelled]));
    Restart();
    std::vector<Answer> answers;
    for (int page = 0; page < cancelled; ++page) answers.push_back({pages[page], 1});
    answers.push_back({pages[cancelled], 2});
    Answers(answers);

    EXPECT_EQ(RunInstallScript(), kExitCancelled);
    // Discarded even before a log was begun.
    EXPECT_EQ(Fake().manageCalls, (std::vector<int>{KX_LOG_DISCARD}));
    EXPECT_TRUE(kxtest::Extraction().calls.empty());
    EXPECT_TRUE(Fake().log.empty());
    EXPECT_FALSE(EntryRegistered());
  }
}

TEST_F(InstallScriptTest, AbortOnAnyWizardPageEndsWithThree) {
  const wchar_t* pages[] = {L"dlgwizwelc", L"dlgwizlicag", L"dlgwizseldir", L"dlgwizselgroup"};
  for (int aborted = 0; aborted < 4; ++aborted) {
    SCOPED_TRACE(kxtest::Narrow(pages[aborted]));
    Restart();
    std::vector<Answer> answers;
    for (int page = 0; page < aborted; ++page) answers.push_back({pages[page], 1});
    answers.push_back({pages[aborted], 4});
    Answers(answers);

    EXPECT_EQ(RunInstallScript(), kExitAborted);
    EXPECT_EQ(Fake().manageCalls, (std::vector<int>{KX_LOG_DISCARD}));
    EXPECT_TRUE(kxtest::Extraction().calls.empty());
  }
}

TEST_F(InstallScriptTest, FinalPageResults) {
  struct Case {
    int result;
    int exitCode;
    std::vector<int> manageCalls;
  };
  const Case cases[] = {
      {1, 0, {KX_LOG_BEGIN, KX_LOG_COMMIT}},
      {2, 0, {KX_LOG_BEGIN, KX_LOG_COMMIT}},  // Cancel on the final page still finishes
      {0, 0, {KX_LOG_BEGIN, KX_LOG_COMMIT}},
      {4, kExitAborted, {KX_LOG_BEGIN, KX_LOG_COMMIT, KX_LOG_DISCARD}},
      {kFinalPageAbort, kExitAborted, {KX_LOG_BEGIN, KX_LOG_COMMIT, KX_LOG_DISCARD}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    Restart();
    Answers({{L"dlgwizwelc", 1},
             {L"dlgwizlicag", 1},
             {L"dlgwizseldir", 1},
             {L"dlgwizselgroup", 1},
             {L"dlgwizfinal", c.result}});
    EXPECT_EQ(RunInstallScript(), c.exitCode);
    EXPECT_EQ(Fake().manageCalls, c.manageCalls);
  }
}

TEST_F(InstallScriptTest, TheExitCodeIsExitcodeReadAsADecimalNumber) {
  struct Case {
    const wchar_t* text;
    int exitCode;
  };
  const Case cases[] = {{L"0", 0}, {L"-1", -1}, {L"7", 7}, {L"12abc", 12}, {L"abc", 0}, {L"", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(kxtest::Narrow(c.text));
    Restart();
    Answers({{L"dlgwizwelc", 1},
             {L"dlgwizlicag", 1},
             {L"dlgwizseldir", 1},
             {L"dlgwizselgroup", 1},
             {L"dlgwizfinal", 1, [&] { SetVar(L"EXITCODE", c.text); }}});
    EXPECT_EQ(RunInstallScript(), c.exitCode);
  }
}

TEST_F(InstallScriptTest, SilentModeShowsNoPageAndInstallsIntoTheDefaults) {
  kxcore::PinVariable(L"SILENT", L"1");
  EXPECT_EQ(RunInstallScript(), 0);
  EXPECT_TRUE(visits_.empty());
  ASSERT_EQ(kxtest::Extraction().calls.size(), 1u);
  EXPECT_EQ(kxtest::Extraction().calls[0].silent, 1);
  EXPECT_EQ(kxtest::Extraction().calls[0].destination, programFiles_ + L"\\Quillmark");
  EXPECT_EQ(Eval(L"%SHORTCUTPATH%"), startRoot_ + L"\\Quillmark");
  EXPECT_EQ(Fake().manageCalls, (std::vector<int>{KX_LOG_BEGIN, KX_LOG_COMMIT}));
  EXPECT_TRUE(EntryRegistered());
  // The page counter moves for the skipped pages but not the destination's.
  EXPECT_EQ(g_pageCounter, 1);
}

TEST_F(InstallScriptTest, SilentModeInstallsIntoAPinnedDestination) {
  const std::wstring chosen = scratch_ / L"Elsewhere";
  kxcore::PinVariable(L"SILENT", L"1");
  kxcore::PinVariable(L"DESTPATH", chosen);
  EXPECT_EQ(RunInstallScript(), 0);
  ASSERT_EQ(kxtest::Extraction().calls.size(), 1u);
  EXPECT_EQ(kxtest::Extraction().calls[0].destination, chosen);
  EXPECT_EQ(kxtest::ReadRegValue(HKEY_LOCAL_MACHINE, kKey, L"UninstallString").Text(), chosen + L"\\Uninst.exe");
}

TEST_F(InstallScriptTest, AFailedExtractionEndsWithOneAfterTheUnpackingMessage) {
  AllNext();
  kxtest::Extraction().run = [](const kxtest::ExtractCall&) {
    g_extractedFileCount = 2;
    return kExtractFailed;
  };
  EXPECT_EQ(RunInstallScript(), kExitExtractionFailed);
  EXPECT_EQ(Stored(L"KXEXTERR"), L"11");
  ASSERT_EQ(boxes_.boxes().size(), 1u);
  const kxtest::ShownBox& box = boxes_.boxes()[0];
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.text, L"An unexpected error occurred while unpacking file(s). Error code: 11");
  EXPECT_EQ(box.caption, L"Quillmark Toolkit Setup (64-bit)");
  EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(Stored(L"TOTALEXTFILE"), L"2");
  // The log is neither written nor discarded; nothing after the files is done.
  EXPECT_EQ(Fake().manageCalls, (std::vector<int>{KX_LOG_BEGIN}));
  EXPECT_TRUE(Fake().log.empty());
  EXPECT_FALSE(EntryRegistered());
  EXPECT_EQ(PagesShown().size(), 4u);
}

TEST_F(InstallScriptTest, ACancelledExtractionEndsWithTwoWithoutAMessage) {
  AllNext();
  kxtest::Extraction().run = [](const kxtest::ExtractCall&) {
    g_extractedFileCount = 1;
    return kExtractCancelled;
  };
  EXPECT_EQ(RunInstallScript(), kExitCancelled);
  EXPECT_EQ(Stored(L"KXEXTERR"), L"<unset>");
  EXPECT_TRUE(boxes_.boxes().empty());
  EXPECT_EQ(Fake().manageCalls, (std::vector<int>{KX_LOG_BEGIN, KX_LOG_DISCARD}));
  EXPECT_FALSE(EntryRegistered());
}

TEST_F(InstallScriptTest, OutOfMemoryAndEveryOtherFailureEndWithOneAndTheirCode) {
  // Out of memory is 2, the number a cancellation once came back with; it is
  // a failure like the others and shows its code.
  const ExtractResult kFailures[] = {{ExtractOutcome::kOutOfMemory, SZ_ERROR_MEM},
                                     {ExtractOutcome::kArchiveError, SZ_ERROR_CRC},
                                     {ExtractOutcome::kCloseFailed, ERROR_ACCESS_DENIED},
                                     kExtractDiskFull};
  for (const ExtractResult& failure : kFailures) {
    SCOPED_TRACE(failure.code);
    Restart();
    AllNext();
    kxtest::Extraction().run = [failure](const kxtest::ExtractCall&) { return failure; };
    EXPECT_EQ(RunInstallScript(), kExitExtractionFailed);
    EXPECT_EQ(Stored(L"KXEXTERR"), std::to_wstring(failure.code));
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0].text,
              L"An unexpected error occurred while unpacking file(s). Error code: " + std::to_wstring(failure.code));
    EXPECT_EQ(Fake().manageCalls, (std::vector<int>{KX_LOG_BEGIN}));
    EXPECT_FALSE(EntryRegistered());
  }
}

TEST_F(InstallScriptTest, AFailedUninstallerIsReportedAndTheRunIsUndone) {
  for (bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "silent" : "interactive");
    Restart();
    AllNext();
    answers_.pop_back();  // no final page
    if (silent) kxcore::PinVariable(L"SILENT", L"1");
    Fake().manageUninstLog = [](int operation) { return operation == KX_LOG_COMMIT ? 112 : 0; };
    EXPECT_EQ(RunInstallScript(), kExitUninstallerNotWritten);
    EXPECT_EQ(Stored(L"KXEXTERR"), L"112");
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0].text, L"Error: could not generate uninstaller. 112");
    EXPECT_FALSE(boxes_.boxes()[0].hasCaption);
    EXPECT_EQ(boxes_.boxes()[0].style, static_cast<UINT>(MB_OK));
    // No entry pointing at an uninstaller that is not there, and no shortcut.
    EXPECT_FALSE(EntryRegistered());
    EXPECT_TRUE(kxtest::ListFolder(startRoot_).empty());
  }
}

// The uninstaller the runtime carries is judged before the first page: one
// that is missing or could not run stops the run with 4 and nothing done.
TEST_F(InstallScriptTest, AnUninstallerThatCouldNotRunStopsTheRunBeforeAnyPage) {
  const std::string good = kxtest::ReadBytes(runtime_ + L"kxremove.dat");
  ASSERT_GT(good.size(), 4096u);
  const struct {
    const char* what;
    std::string bytes;  // empty: no file at all
    const wchar_t* error;
  } cases[] = {
      {"missing", "", L"2"},
      {"a few bytes of garbage", "MZ\x90garb", L"193"},
      {"its PE headers only", good.substr(0, 1024), L"193"},
      {"no container behind the image", good.substr(0, kxtest::ContainerOffsetOf(good)), L"193"},
      {"its runtime archive cut", good.substr(0, good.size() - 64), L"193"},
      {"its runtime archive's header damaged",
       good.substr(0, good.size() - 1) + static_cast<char>(good.back() ^ 0x01), L"193"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    if (c.bytes.empty())
      ASSERT_TRUE(DeleteFileW((runtime_ + L"kxremove.dat").c_str()));
    else
      ASSERT_TRUE(kxtest::WriteBytes(runtime_ + L"kxremove.dat", c.bytes));
    EXPECT_EQ(RunInstallScript(), kExitUninstallerNotWritten);
    EXPECT_TRUE(PagesShown().empty());
    EXPECT_EQ(Stored(L"KXEXTERR"), c.error);
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0].text, std::wstring(L"Error: could not generate uninstaller. ") + c.error);
    EXPECT_TRUE(kxtest::Extraction().calls.empty());
    EXPECT_TRUE(Fake().manageCalls.empty());
    EXPECT_FALSE(EntryRegistered());
  }
}

// An uninstall entry is only registry values: a folder there that setup
// could never have been given is not followed.
TEST_F(InstallScriptTest, AnEarlierInstallationsFolderIsOfferedOnlyWhenSetupMayUseIt) {
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  const std::wstring earlier = scratch_ / L"Earlier\\Quillmark";
  const struct {
    std::wstring location;
    std::wstring offered;
  } cases[] = {
      {earlier, earlier},
      {earlier + L"\\", earlier},
      {L"C:\\", programFiles_ + L"\\Quillmark"},
      {L"C:", programFiles_ + L"\\Quillmark"},
      {windows, programFiles_ + L"\\Quillmark"},
      {std::wstring(windows) + L"\\system32", programFiles_ + L"\\Quillmark"},
      {programFiles_, programFiles_ + L"\\Quillmark"},
      {startRoot_, programFiles_ + L"\\Quillmark"},
      {L"\\\\?\\C:\\Quillmark", programFiles_ + L"\\Quillmark"},
      {L"C:\\Quillmark:stream", programFiles_ + L"\\Quillmark"},
      {earlier + L"\\..\\..", programFiles_ + L"\\Quillmark"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(kxtest::Narrow(c.location));
    Restart();
    const DWORD bytes = static_cast<DWORD>((c.location.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey.c_str(), L"InstallLocation", REG_SZ, c.location.c_str(), bytes),
              ERROR_SUCCESS);
    Answers({{L"dlgwizwelc", KX_PAGE_CANCEL, [&] { EXPECT_EQ(Eval(L"%DESTPATH%"), c.offered); }}});
    EXPECT_EQ(RunInstallScript(), kExitCancelled);
  }
}

TEST_F(InstallScriptTest, ADestinationThatIsNotAFullPathIsRefusedBeforeExtraction) {
  struct Case {
    std::wstring destination;
    const wchar_t* error;
  };
  const Case cases[] = {{L"Quillmark", L"161"},
                        {L"   ", L"161"},
                        {L"C:Quillmark", L"161"},
                        {L"C:\\" + std::wstring(800, L'q'), L"206"}};
  for (const Case& c : cases) {
    Restart();
    kxcore::PinVariable(L"SILENT", L"1");
    kxcore::PinVariable(L"DESTPATH", c.destination);
    EXPECT_EQ(RunInstallScript(), kExitExtractionFailed);
    EXPECT_EQ(Stored(L"KXEXTERR"), c.error);
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0].text,
              std::wstring(L"An unexpected error occurred while unpacking file(s). Error code: ") + c.error);
    EXPECT_TRUE(kxtest::Extraction().calls.empty());
    EXPECT_FALSE(EntryRegistered());
  }
}

}  // namespace

// A package that offers both scopes: the scope page before the destination,
// whose default follows the choice each time it changes; a silent run for
// all users without an administrator's rights ends before anything is done.
class ScopeChoiceTest : public InstallScriptTest {
 protected:
  void SetUp() override {
    InstallScriptTest::SetUp();
    g_package.scope.scope = PackageScope::kChoice;
    SetVar(L"ISADMIN", L"1");
  }
  void TearDown() override {
    g_package.scope.scope = PackageScope::kAllUsers;
    InstallScriptTest::TearDown();
  }
};

TEST_F(ScopeChoiceTest, TheDefaultFoldersFollowTheChoiceAlsoAfterBackAndAChangedMind) {
  ASSERT_TRUE(ApplyRunScope());
  const std::wstring machineFolder = programFiles_ + L"\\Quillmark";
  std::wstring userFolder, userMenu;
  Answers({{L"dlgwizwelc", 1},
           {L"dlgwizlicag", 1},
           {L"dlgwizscope", 1, [] { SetVar(L"KXSCOPECHOSEN", L"currentuser"); }},
           {L"dlgwizseldir", KX_PAGE_BACK,
            [&] {
              userFolder = Eval(L"%DLGSELPATH%");
              // The user's edit is dropped when the scope changes.
              SetVar(L"DESTPATH", L"C:\\typed");
            }},
           {L"dlgwizscope", 1, [] { SetVar(L"KXSCOPECHOSEN", L"allusers"); }},
           {L"dlgwizseldir", 1, [&] { EXPECT_EQ(Eval(L"%DLGSELPATH%"), machineFolder); }},
           {L"dlgwizselgroup", KX_PAGE_BACK, [&] { EXPECT_EQ(Eval(L"%KXSHORTCUTROOT%"), startRoot_); }},
           {L"dlgwizseldir", KX_PAGE_BACK},
           {L"dlgwizscope", 1, [] { SetVar(L"KXSCOPECHOSEN", L"currentuser"); }},
           {L"dlgwizseldir", 1},
           {L"dlgwizselgroup", 1, [&] { userMenu = Eval(L"%SHORTCUTPATH%"); }},
           {L"dlgwizfinal", 1}});
  EXPECT_EQ(RunInstallScript(), 0);
  EXPECT_NE(userFolder, machineFolder);
  EXPECT_EQ(userFolder.substr(userFolder.size() - 19), L"\\Programs\\Quillmark") << kxtest::Narrow(userFolder);
  EXPECT_NE(userMenu.rfind(startRoot_, 0), 0u) << "the user's Start menu is not the machine's: " << kxtest::Narrow(userMenu);
  ASSERT_EQ(kxtest::Extraction().calls.size(), 1u);
  EXPECT_EQ(kxtest::Extraction().calls[0].destination, userFolder);
  EXPECT_EQ(Eval(L"%KXUNINSTREGROOT%"), L"HKEY_CURRENT_USER");
  EXPECT_FALSE(EntryRegistered()) << "registered for the machine";
  kxtest::DeleteRegTree(HKEY_CURRENT_USER, kKey);
  if (!userMenu.empty() && userMenu.rfind(startRoot_, 0) != 0) kxtest::RemoveTree(userMenu);
}

TEST_F(ScopeChoiceTest, ASilentRunForAllUsersWithoutAdministratorChangesNothingAndEndsWithTen) {
  kxcore::PinVariable(L"SILENT", L"1");
  SetVar(L"ISADMIN", L"0");
  SetVar(L"KXSCOPESWITCH", L"allusers");
  ASSERT_TRUE(ApplyRunScope());
  EXPECT_EQ(RunInstallScript(), kExitNeedsAdministrator);
  EXPECT_TRUE(kxtest::Extraction().calls.empty());
  EXPECT_TRUE(Fake().manageCalls.empty());
  ASSERT_EQ(boxes_.boxes().size(), 1u);
  EXPECT_NE(boxes_.boxes()[0].text.find(L"administrator"), std::wstring::npos);
  // Without the switch such a run installs for the user, who needs no one.
  Restart();
  g_package.scope.scope = PackageScope::kChoice;
  kxcore::PinVariable(L"SILENT", L"1");
  SetVar(L"ISADMIN", L"0");
  ASSERT_TRUE(ApplyRunScope());
  EXPECT_EQ(Eval(L"%KXSCOPE%"), L"currentuser");
  EXPECT_EQ(RunInstallScript(), 0);
  EXPECT_EQ(kxtest::ReadRegValue(HKEY_CURRENT_USER, kKey, L"DisplayName").Text(), L"Quillmark Toolkit");
  kxtest::DeleteRegTree(HKEY_CURRENT_USER, kKey);
}
