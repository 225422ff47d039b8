// Upgrades while the product runs, and the version rules, with the real
// programs: Ledger Keeper holds its own ledger open without sharing and has
// a window. Version 2.0 over 1.0 closes it when asked (silently or through
// the box that names it), or leaves the new ledger to the next restart with
// the restart-needed code; 1.0 over 2.0 is refused unless allowed; 1.0 over
// 1.0 restores what is missing; /D= starts the folder page.
#include <windows.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/file_decision.h"
#include "core/kxcore.h"
#include "core/uninstall_log.h"
#include "tests/driver/ui_driver.h"
#include "tests/e2e/install_e2e_fixture.h"
#include "tests/support/process_runner.h"

namespace kxtest {
namespace {

constexpr wchar_t kLedgerKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\LedgerKeeper";
constexpr wchar_t kWindowClass[] = L"LedgerKeeperWindow";
constexpr DWORD kRunTimeoutMs = 180000;
// Ceilings for Ledger Keeper's own steps (its window, letting go of its
// ledger, ending once closed). They only bound a wait that normally ends at
// once; on a machine loaded to a dozen runnable processes a Wine program took
// more than 30 s to show its first window, so they are generous.
constexpr DWORD kKeeperStepMs = 120000;
// Exit codes of base/exit_codes.h, as a deployment tool reads them.
constexpr DWORD kDowngradeRefused = 6;
constexpr DWORD kRestartNeeded = 7;
constexpr DWORD kMsiRebootRequired = 3010;

std::string Ledger(int version) { return "Ledger of version " + std::to_string(version) + ".0\r\n"; }

struct WindowOf {
  DWORD processId;
  bool found;
};

BOOL CALLBACK FindKeeperWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowOf*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && kxdrive::ClassName(window) == kWindowClass) search->found = true;
  return TRUE;
}

class RunningUpgradeEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    packages_ = TestDataPath("KX_TEST_LEDGER");
    folder_ = KnownFolder(FOLDERID_ProgramFiles) + L"\\Ledger Keeper";
    startMenu_ = KnownFolder(FOLDERID_CommonPrograms) + L"\\Ledger Keeper";
    temp_ = work_ / L"temp";
    ASSERT_TRUE(CreateDirectoryW(temp_.c_str(), nullptr));
    Clean();
  }
  void TearDown() override {
    keeper_.Kill();
    Clean();
  }

  void Clean() {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    RemoveTree(folder_);
    RemoveTree(startMenu_);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLedgerKey);
  }

  std::wstring Setup(int version) const { return packages_ + L"\\setup-" + std::to_wstring(version) + L".exe"; }
  std::wstring LedgerFile() const { return folder_ + L"\\data\\ledger.dat"; }

  DWORD Run(int version, const std::wstring& arguments) {
    LaunchOptions options;
    options.arguments = arguments;
    options.environment = {{L"TMP", temp_}, {L"TEMP", temp_}};
    return RunToExit(Setup(version), options, kRunTimeoutMs);
  }

  // Runs a version silently with a log; returns the code, the log's steps
  // in *steps.
  DWORD RunLogged(int version, const std::wstring& arguments, std::vector<std::wstring>* steps) {
    const std::wstring log = work_ / (L"run" + std::to_wstring(++runs_) + L".log");
    DWORD code = Run(version, arguments + L" /LOG=\"" + log + L"\"");
    *steps = RunLogSteps(log);
    return code;
  }

  // Starts the installed program and waits until its window shows and it
  // holds its ledger.
  void StartKeeper() {
    LaunchOptions options;
    options.workingFolder = folder_;
    ASSERT_TRUE(keeper_.Start(folder_ + L"\\LedgerKeeper.exe", options));
    const DWORD start = GetTickCount();
    for (;;) {
      WindowOf search = {keeper_.id(), false};
      EnumWindows(FindKeeperWindow, reinterpret_cast<LPARAM>(&search));
      HANDLE probe = CreateFileW(LedgerFile().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
      const bool held = probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
      if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
      if (search.found && held) return;
      ASSERT_EQ(keeper_.Wait(0), static_cast<DWORD>(STILL_ACTIVE)) << "Ledger Keeper ended";
      ASSERT_LT(GetTickCount() - start, kKeeperStepMs) << "Ledger Keeper shows no window or does not hold its ledger";
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
  }

  // Ends Ledger Keeper and waits until Wine has let go of its ledger, which
  // it does a moment after the process ends.
  void EndKeeper() {
    keeper_.Kill();
    const DWORD start = GetTickCount();
    for (;;) {
      HANDLE file = CreateFileW(LedgerFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return;
      }
      ASSERT_LT(GetTickCount() - start, kKeeperStepMs) << "the ledger stays held";
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
  }

  // The pending operation that puts a file in place at the restart: its
  // source, or empty.
  std::wstring PendingReplacementOf(const std::wstring& target) {
    // A move that replaces its target writes it as "!\??\<path>".
    const std::wstring replacing = L"!\\??\\" + target;
    for (const auto& [source, destination] : PendingOperations())
      if (CompareStringOrdinal(destination.c_str(), -1, replacing.c_str(), -1, TRUE) == CSTR_EQUAL) return source;
    return L"";
  }

  void ExpectVersion(int version) {
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kLedgerKey, L"DisplayVersion"), std::to_wstring(version) + L".0");
    EXPECT_EQ(ReadBytes(LedgerFile()), Ledger(version));
  }

  ScratchFolder work_;
  std::wstring packages_, folder_, startMenu_, temp_;
  ChildProcess keeper_;
  int runs_ = 0;
};

TEST_F(RunningUpgradeEndToEnd, SilentCloseApplicationsClosesTheProgramPolitelyAndUpgrades) {
  ASSERT_EQ(Run(1, L"/S"), 0u);
  StartKeeper();
  std::vector<std::wstring> steps;
  EXPECT_EQ(RunLogged(2, L"/S /CLOSEAPPLICATIONS", &steps), 0u) << StepsText(steps);
  // Closed through its window, not ended by force (which gives 1).
  EXPECT_EQ(keeper_.Wait(kKeeperStepMs), 0u);
  ExpectVersion(2);
  EXPECT_TRUE(PendingReplacementOf(LedgerFile()).empty());
  EXPECT_TRUE(HasStep(steps, L"Program holding files of the installation: LedgerKeeper.exe")) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"Program LedgerKeeper.exe: closed")) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"File replaced: " + LedgerFile())) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"Exit code 0"));
}

TEST_F(RunningUpgradeEndToEnd, RestartApplicationsStartsTheClosedProgramAgainFromTheNewFiles) {
  ASSERT_EQ(Run(1, L"/S"), 0u);
  StartKeeper();
  std::vector<std::wstring> steps;
  EXPECT_EQ(RunLogged(2, L"/S /CLOSEAPPLICATIONS /RESTARTAPPLICATIONS", &steps), 0u) << StepsText(steps);
  EXPECT_EQ(keeper_.Wait(kKeeperStepMs), 0u);
  EXPECT_TRUE(HasStep(steps, L"Programs started again (/RESTARTAPPLICATIONS): 1")) << StepsText(steps);
  // The program runs again, from the installation folder, holding the new ledger.
  const std::wstring program = folder_ + L"\\LedgerKeeper.exe";
  DWORD restarted = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !restarted; more = Process32NextW(snapshot, &entry)) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (!process) continue;
    wchar_t image[MAX_PATH];
    DWORD length = MAX_PATH;
    if (QueryFullProcessImageNameW(process, 0, image, &length) &&
        CompareStringOrdinal(image, -1, program.c_str(), -1, TRUE) == CSTR_EQUAL)
      restarted = entry.th32ProcessID;
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  ASSERT_NE(restarted, 0u) << "LedgerKeeper.exe is not running again";
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, restarted);
  ASSERT_TRUE(process);
  TerminateProcess(process, 0);
  WaitForSingleObject(process, 10000);
  CloseHandle(process);
  EndKeeper();
  ExpectVersion(2);
}

TEST_F(RunningUpgradeEndToEnd, SilentNoCloseApplicationsLeavesTheNewFileToTheRestart) {
  ASSERT_EQ(Run(1, L"/S"), 0u);
  StartKeeper();
  std::vector<std::wstring> steps;
  EXPECT_EQ(RunLogged(2, L"/S /NOCLOSEAPPLICATIONS", &steps), kRestartNeeded) << StepsText(steps);
  EXPECT_EQ(keeper_.Wait(0), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kLedgerKey, L"DisplayVersion"), L"2.0");
  // The new ledger waits beside the old one, in the pending operations.
  const std::wstring waiting = PendingReplacementOf(LedgerFile());
  ASSERT_FALSE(waiting.empty()) << StepsText(steps);
  EXPECT_EQ(waiting.rfind(folder_ + L"\\data\\~kxr", 0), 0u) << Narrow(waiting);
  EXPECT_EQ(ReadBytes(waiting), Ledger(2));
  EXPECT_TRUE(HasStep(steps, L"Leaving them running (/NOCLOSEAPPLICATIONS)")) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"File in use, replaced at the next restart: " + LedgerFile())) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"Restart needed: 1 files in use")) << StepsText(steps);
  // The uninstall log names the ledger, not the file that waits.
  std::vector<kxcore::UninstallRecord> records;
  ASSERT_EQ(kxcore::ReadUninstallLog(folder_ + L"\\Uninst.dat", &records), kxcore::LogFileStatus::kOk);
  EXPECT_NE(std::find(records.begin(), records.end(), kxcore::UninstallRecord{KX_LOG_FILE, LedgerFile()}),
            records.end());

  // The program ends before the restart; the restart puts the new ledger in
  // place and leaves nothing beside it.
  EndKeeper();
  EXPECT_EQ(ReadBytes(LedgerFile()), Ledger(1));
  EXPECT_EQ(RunToExit(L"C:\\windows\\system32\\wineboot.exe", LaunchOptions{L"-r", L"", {}}), 0u);
  ExpectVersion(2);
  EXPECT_FALSE(FileExists(waiting));
}

TEST_F(RunningUpgradeEndToEnd, ASilentRunLeavesProgramsByDefaultAndMsiCodesSayRebootRequired) {
  ASSERT_EQ(Run(1, L"/S"), 0u);
  StartKeeper();
  std::vector<std::wstring> steps;
  EXPECT_EQ(RunLogged(3, L"/S /SUPPRESSMSGBOXES", &steps), kMsiRebootRequired) << StepsText(steps);
  EXPECT_EQ(keeper_.Wait(0), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_TRUE(HasStep(steps, L"Leaving them running (the default of a silent run)")) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"Exit code 3010 stands for 7")) << StepsText(steps);
  EXPECT_FALSE(PendingReplacementOf(LedgerFile()).empty());
}

TEST_F(RunningUpgradeEndToEnd, TheBoxNamesTheProgramAndClosingItFinishesTheUpgrade) {
  ASSERT_EQ(Run(1, L"/S"), 0u);
  StartKeeper();
  {
    kxdrive::Session session(L"running-upgrade-close");
    ASSERT_TRUE(session.Start(Setup(2), L"", {{L"TMP", temp_}, {L"TEMP", temp_}}));
    for (const wchar_t* page : {L"dlgwizwelc", L"dlgwizlicag", L"dlgwizseldir", L"dlgwizselgroup"}) {
      HWND shown = session.WaitForPage(page);
      ASSERT_TRUE(shown) << Narrow(page);
      session.Press(shown, 1);
    }
    HWND box = session.WaitForMessageBox(L"The following programs are using files of Ledger Keeper");
    ASSERT_TRUE(box);
    const std::wstring text = kxdrive::MessageBoxText(box);
    EXPECT_NE(text.find(L"\n    LedgerKeeper.exe"), std::wstring::npos) << Narrow(text);
    EXPECT_NE(text.find(L"Yes: close the programs automatically"), std::wstring::npos) << Narrow(text);
    EXPECT_TRUE(kxdrive::AnswerMessageBox(box, IDYES));
    // The files of version 1 are asked about, as in any wizard run over
    // existing files.
    HWND question = kxdrive::WaitForWindow(session.processId(), session.process(), [](HWND window) {
      return kxdrive::WindowText(window) == L"Confirm File Replace";
    });
    ASSERT_TRUE(question);
    session.Press(question, kxcore::kReplaceAllButton);
    HWND final = session.WaitForPage(L"dlgwizfinal", kRunTimeoutMs);
    ASSERT_TRUE(final);
    session.Press(final, 1);
    EXPECT_EQ(session.WaitForExit(60000), 0u);
  }
  EXPECT_EQ(keeper_.Wait(kKeeperStepMs), 0u);
  ExpectVersion(2);
  EXPECT_TRUE(PendingReplacementOf(LedgerFile()).empty());
}

TEST_F(RunningUpgradeEndToEnd, LeavingTheProgramInTheWizardEndsWithTheRestartNoteAndCode) {
  ASSERT_EQ(Run(1, L"/S"), 0u);
  StartKeeper();
  {
    kxdrive::Session session(L"running-upgrade-leave");
    ASSERT_TRUE(session.Start(Setup(2), L"", {{L"TMP", temp_}, {L"TEMP", temp_}}));
    for (const wchar_t* page : {L"dlgwizwelc", L"dlgwizlicag", L"dlgwizseldir", L"dlgwizselgroup"}) {
      HWND shown = session.WaitForPage(page);
      ASSERT_TRUE(shown) << Narrow(page);
      session.Press(shown, 1);
    }
    EXPECT_TRUE(session.Answer(L"LedgerKeeper.exe", IDNO));
    HWND question = kxdrive::WaitForWindow(session.processId(), session.process(), [](HWND window) {
      return kxdrive::WindowText(window) == L"Confirm File Replace";
    });
    ASSERT_TRUE(question);
    session.Press(question, kxcore::kReplaceAllButton);
    HWND final = session.WaitForPage(L"dlgwizfinal", kRunTimeoutMs);
    ASSERT_TRUE(final);
    // The final page's text (control 5) tells the user the restart finishes it.
    const std::wstring text = kxdrive::ControlText(final, 5);
    EXPECT_NE(text.find(L"They will be replaced when Windows restarts"), std::wstring::npos) << Narrow(text);
    session.Press(final, 1);
    EXPECT_EQ(session.WaitForExit(60000), kRestartNeeded);
  }
  EXPECT_EQ(keeper_.Wait(0), static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_FALSE(PendingReplacementOf(LedgerFile()).empty());
  EndKeeper();
}

TEST_F(RunningUpgradeEndToEnd, CancelInTheBoxChangesNothing) {
  ASSERT_EQ(Run(1, L"/S"), 0u);
  const std::map<std::wstring, EntryState> before = TreeState(folder_);
  StartKeeper();
  kxdrive::Session session(L"running-upgrade-cancel");
  ASSERT_TRUE(session.Start(Setup(2), L"", {{L"TMP", temp_}, {L"TEMP", temp_}}));
  for (const wchar_t* page : {L"dlgwizwelc", L"dlgwizlicag", L"dlgwizseldir", L"dlgwizselgroup"}) {
    HWND shown = session.WaitForPage(page);
    ASSERT_TRUE(shown) << Narrow(page);
    session.Press(shown, 1);
  }
  EXPECT_TRUE(session.Answer(L"LedgerKeeper.exe", IDCANCEL));
  EXPECT_EQ(session.WaitForExit(60000), 2u);
  EXPECT_EQ(keeper_.Wait(0), static_cast<DWORD>(STILL_ACTIVE));
  EndKeeper();
  EXPECT_EQ(TreeState(folder_), before);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kLedgerKey, L"DisplayVersion"), L"1.0");
}

TEST_F(RunningUpgradeEndToEnd, TheUninstallerClosesTheProgramWhenAskedAndElseLeavesItsFilesToTheRestart) {
  ASSERT_EQ(Run(1, L"/S"), 0u);
  StartKeeper();
  LaunchOptions options;
  options.environment = {{L"TMP", temp_}, {L"TEMP", temp_}};
  const std::wstring log = work_ / L"uninstall.log";
  options.arguments = L"/S /CLOSEAPPLICATIONS /LOG=\"" + log + L"\"";
  EXPECT_EQ(RunToExit(folder_ + L"\\Uninst.exe", options, kRunTimeoutMs), 0u);
  EXPECT_EQ(keeper_.Wait(kKeeperStepMs), 0u);
  const std::vector<std::wstring> steps = RunLogSteps(log);
  EXPECT_TRUE(HasStep(steps, L"Program LedgerKeeper.exe: closed")) << StepsText(steps);
  EXPECT_FALSE(FileExists(LedgerFile()));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kLedgerKey, L"DisplayName"), L"<missing>");

  // Left running (the default of /S), what it holds goes at the restart.
  Clean();
  ASSERT_EQ(Run(1, L"/S"), 0u);
  StartKeeper();
  options.arguments = L"/S";
  EXPECT_EQ(RunToExit(folder_ + L"\\Uninst.exe", options, kRunTimeoutMs), 0u);
  EXPECT_EQ(keeper_.Wait(0), static_cast<DWORD>(STILL_ACTIVE));
  EndKeeper();
  EXPECT_TRUE(FileExists(LedgerFile()));
  EXPECT_EQ(RunToExit(L"C:\\windows\\system32\\wineboot.exe", LaunchOptions{L"-r", L"", {}}), 0u);
  EXPECT_FALSE(FileExists(LedgerFile()));
}

TEST_F(RunningUpgradeEndToEnd, AnOlderVersionIsRefusedWithNothingChangedUnlessAllowed) {
  ASSERT_EQ(Run(2, L"/S"), 0u);
  const std::map<std::wstring, EntryState> before = TreeState(folder_);
  std::vector<std::wstring> steps;
  EXPECT_EQ(RunLogged(1, L"/S", &steps), kDowngradeRefused) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"Error: installed version 2.0 is newer than 1.0: the downgrade is refused"))
      << StepsText(steps);
  EXPECT_EQ(TreeState(folder_), before);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kLedgerKey, L"DisplayVersion"), L"2.0");

  // Interactively the reason is shown before any page.
  {
    kxdrive::Session session(L"downgrade-refused");
    ASSERT_TRUE(session.Start(Setup(1), L"", {{L"TMP", temp_}, {L"TEMP", temp_}}));
    HWND box = session.WaitForMessageBox(L"A newer version of Ledger Keeper is already installed (2.0)");
    ASSERT_TRUE(box);
    EXPECT_NE(kxdrive::MessageBoxText(box).find(L"/ALLOWDOWNGRADE"), std::wstring::npos);
    EXPECT_TRUE(kxdrive::AnswerMessageBox(box, IDOK));
    EXPECT_EQ(session.WaitForExit(), kDowngradeRefused);
  }
  EXPECT_EQ(TreeState(folder_), before);

  EXPECT_EQ(RunLogged(1, L"/S /ALLOWDOWNGRADE", &steps), 0u) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"Installed version 2.0 is newer than 1.0: a downgrade, allowed by /ALLOWDOWNGRADE"));
  ExpectVersion(1);
}

TEST_F(RunningUpgradeEndToEnd, TheSameVersionAgainRestoresMissingAndDamagedFiles) {
  ASSERT_EQ(Run(1, L"/S"), 0u);
  ASSERT_TRUE(DeleteFileW((folder_ + L"\\README.txt").c_str()));
  ASSERT_TRUE(WriteBytes(LedgerFile(), "damaged"));
  std::vector<std::wstring> steps;
  EXPECT_EQ(RunLogged(1, L"/S", &steps), 0u) << StepsText(steps);
  EXPECT_TRUE(HasStep(steps, L"Version 1.0 is installed already: a reinstall")) << StepsText(steps);
  ExpectVersion(1);
  EXPECT_EQ(ReadBytes(folder_ + L"\\README.txt"), "Ledger Keeper keeps its ledger open while it runs.\r\n");
}

TEST_F(RunningUpgradeEndToEnd, AnInteractiveRunStartsTheFolderPageWithTheCommandLineFolder) {
  const std::wstring chosen = work_ / L"From the command line 100%\\Ledger";
  kxdrive::Session session(L"interactive-destination");
  ASSERT_TRUE(session.Start(Setup(1), L"/D=" + chosen, {{L"TMP", temp_}, {L"TEMP", temp_}}));
  for (const wchar_t* page : {L"dlgwizwelc", L"dlgwizlicag"}) {
    HWND shown = session.WaitForPage(page);
    ASSERT_TRUE(shown) << Narrow(page);
    session.Press(shown, 1);
  }
  HWND destination = session.WaitForPage(L"dlgwizseldir");
  ASSERT_TRUE(destination);
  EXPECT_EQ(kxdrive::ControlText(destination, 20), chosen);
  session.Press(destination, 2);
  EXPECT_EQ(session.WaitForExit(), 2u);
  EXPECT_FALSE(FolderExists(chosen));
}

}  // namespace
}  // namespace kxtest
