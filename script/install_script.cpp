#include "script/install_script.h"

#include <stdint.h>
#include <stdio.h>
#include <wchar.h>

#include "base/exit_codes.h"
#include "base/message_box.h"
#include "base/package_format.h"
#include "base/path_services.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "extract/extraction.h"
#include "extract/folder_creation.h"
#include "extract/install_journal.h"
#include "extract/restart_replacements.h"
#include "launcher/install_folders.h"
#include "launcher/install_scope.h"
#include "launcher/launcher_main.h"
#include "launcher/literal_text.h"
#include "launcher/package_data.h"
#include "launcher/program_check.h"
#include "launcher/uninstaller_completion.h"
#include "launcher/run_language.h"
#include "launcher/script_flags.h"
#include "script/declaration_steps.h"
#include "script/declared_shortcuts.h"
#include "script/destination_space.h"
#include "script/folder_picker.h"
#include "script/install_rollback.h"
#include "script/package_texts.h"
#include "script/page_handlers.h"
#include "script/post_install_tasks.h"
#include "script/scope_page.h"
#include "script/script_state.h"
#include "script/shortcut.h"
#include "script/tasks_page.h"
#include "script/page_notes.h"
#include "script/uninstall_registration.h"
#include "script/version_rules.h"
#include "services/programs_in_use.h"
#include "services/registry_reader.h"

int32_t g_pageCounter = 0;

namespace {

// What version the uninstall entry says is installed.
InstalledVersion g_installed = InstalledVersion::kNone;
// The programs found holding files of the destination before the
// extraction, for /RESTARTAPPLICATIONS at the end.
RunningPrograms g_programsInUse;

// The blocks of the sequence; Back returns to the head of the previous one,
// so its variable settings run again.
enum class Block { Welcome, Licence, Scope, Destination, StartMenu, Tasks, Install, Register, Final };

// What a page result asks for.
enum class Move { Forward, Back, Cancel, Abort };

Move PageMove(int result) {
  switch (result) {
    case KX_PAGE_CANCEL:
      return Move::Cancel;
    case KX_PAGE_BACK:
      return Move::Back;
    case KX_PAGE_ABORT:
      return Move::Abort;
    default:
      return Move::Forward;
  }
}

bool IsSilent() { return FlagIsSet(L"%SILENT%"); }

void LogSkippedPage(const wchar_t* name) { LogLine(L"Page %ls: skipped in a silent run", name); }

int ShowPage(const wchar_t* name, KxDialogHandler handler) {
  if (!IsSilent()) return ShowDialogBox(name, handler);
  LogSkippedPage(name);
  // A page skipped in a silent run goes on as Next would.
  return KX_PAGE_NEXT;
}

int CancelEnd() {
  ManageUninstLog(KX_LOG_DISCARD);
  return kExitCancelled;
}

int AbortEnd() {
  ManageUninstLog(KX_LOG_DISCARD);
  return kExitAborted;
}

void SetNumber(const wchar_t* name, long long value) {
  wchar_t text[24];
  _snwprintf(text, 23, L"%lld", value);
  text[23] = L'\0';
  SetVar(name, text);
}

// An installation of this package found through its uninstall entry: setup
// offers its folder (and /S uses it, unless /D= says otherwise), so that a
// reinstall or an upgrade replaces it instead of adding a second copy.
// Entries written before InstallLocation existed name it in UninstallString.
void OfferEarlierDestination() {
  wchar_t folder[kRegValueChars];
  RegReadValue(ScopeRootKey(), g_package.uninstallRegistryKey, L"InstallLocation", folder);
  if (!folder[0]) {
    RegReadValue(ScopeRootKey(), g_package.uninstallRegistryKey, L"UninstallString", folder);
    StripLastPathComponent(folder);
  }
  size_t length = wcslen(folder);
  while (length > 3 && (folder[length - 1] == L'\\' || folder[length - 1] == L'/')) folder[--length] = L'\0';
  if (length == 0) return;
  // The entry is only registry values, which anyone with the rights (or a
  // forged package of the same key) may have written: a folder setup would
  // refuse as the package's own is not followed.
  if (length >= kScriptPathCapacity || JudgeInstallFolder(folder) != InstallFolderVerdict::kAllowed) {
    LogLine(L"Installed before into %ls: that folder is not offered", folder);
    return;
  }
  // Taken literally: a '%' or '#' in the folder's name is no reference or key.
  if (!SetVarLiteral(L"DESTPATH", folder)) return;
  LogLine(L"Installed before into %ls: that folder is the destination offered", folder);
}

// An interactive run's /D=: the folder page starts with it (a silent run's
// is DESTPATH itself, which the core library holds).
void OfferCommandLineDestination() {
  wchar_t folder[kScriptPathCapacity];
  int length = EvalVarBuf(L"%KXCMDDESTPATH%", folder, kScriptPathBytes);
  if (length <= 0 || static_cast<size_t>(length) >= kScriptPathCapacity) return;
  // InitSFX always sets it; a library that did not leaves the reference
  // as it stands, which names no folder.
  if (wcscmp(folder, L"%KXCMDDESTPATH%") == 0) return;
  if (!SetVarLiteral(L"DESTPATH", folder)) return;
  LogLine(L"Destination from /D=: %ls", folder);
}

// The welcome page of a reinstall says what the run will do.
void PrepareWelcomePage() {
  SetVar(L"KXWELCRTF", L"%KXSFXPATH%\\kxwelc%SELLANG%.rtf");
  if (g_installed != InstalledVersion::kSame) return;
  wchar_t source[kScriptPathCapacity];
  wchar_t target[kScriptPathCapacity];
  EvalVarBuf(L"%KXSFXPATH%\\kxwelc%SELLANG%.rtf", source, kScriptPathBytes);
  EvalVarBuf(L"%KXSFXPATH%\\kxwelc%SELLANG%srv.rtf", target, kScriptPathBytes);
  static wchar_t note[4096];
  EvalVarBuf(L"#reinstallnote", note, sizeof note);
  if (WriteRtfWithNote(source, target, note)) SetVar(L"KXWELCRTF", L"%KXSFXPATH%\\kxwelc%SELLANG%srv.rtf");
}

// The destination and the Start-menu folder as the run's scope gives them:
// the package's, the earlier installation's in that scope, /D=. Set again
// when the scope page changes the scope.
void SetScopeDefaults() {
  SetVar(L"SHORTCUTPATH", g_package.startMenuFolder);
  SetVar(L"DESTPATH", g_package.installFolder);
  OfferEarlierDestination();
  OfferCommandLineDestination();
}

void InitializeVariables() {
  g_extractedFileCount = 0;
  g_extractedBytes = 0;
  SetVar(L"EXITCODE", L"0");
  SetVar(L"TOTALEXTFILE", L"0");
  SetVar(L"NEEDREBOOT", L"0");
  SetVar(L"SILENT", L"0");
  SetVarLiteral(L"ARCFILEVER", g_package.productVersion);
  SetVarLiteral(L"ARCPRODVER", g_package.productVersion);
  SetVar(L"DESTPATH", L"");
  SetVar(L"VCOMPMAIN", L"1");
  SetVar(L"KXDLGWIZLOOK", L"1");
  // SELLANG and KXLANGID are the core library's: the run's language.
  SetVarLiteral(L"KXWIZLABEL", PackageWizardLabel(g_package, RunLanguageId()));
  SetVar(L"KXDLGNEXTC", L"#Next");
  g_pageCounter = 0;
  SetVarLiteral(L"KXUNINSTREGKEY", g_package.uninstallRegistryKey);
  g_uninstallLogging = true;
  SetScopeDefaults();
  SetVar(L"KXWIZWATERM", L"%KXSFXPATH%\\kxwaterm.bmp");
}

// The uninstaller the runtime carries, completed with its libraries
// (launcher/uninstaller_completion.h) and judged before the first page: an
// installation whose uninstaller could not run could never be removed, so
// none is made. Returns true to go on; otherwise the run ends with
// kExitUninstallerNotWritten and the message of a failed uninstaller.
bool UninstallerUsable() {
  wchar_t path[kScriptPathCapacity + 16];
  int length = EvalVarBuf(L"%KXSFXPATH%", path, kScriptPathBytes);
  ProgramCheck check = ProgramCheck::kNotAProgram;
  if (length >= 0 && static_cast<size_t>(length) < kScriptPathCapacity) {
    wchar_t runtimeFolder[kScriptPathCapacity + 16];
    wcscpy(runtimeFolder, path);
    wcscat(path, kxformat::kUninstallerFileW);
    check = CheckPackagedProgram(path);
    if (check == ProgramCheck::kUsable && !CompletePackagedUninstaller(path, g_launcher.modulePath, runtimeFolder))
      check = ProgramCheck::kNotAProgram;
  }
  if (check == ProgramCheck::kUsable) return true;
  const DWORD error = check == ProgramCheck::kMissing ? ERROR_FILE_NOT_FOUND : ERROR_BAD_EXE_FORMAT;
  LogLine(L"Error %lu: the uninstaller the package carries (%ls) %ls", error, kxformat::kUninstallerFileW,
          check == ProgramCheck::kMissing ? L"is missing" : L"could not run");
  SetNumber(L"KXEXTERR", error);
  ShowMessageBox(nullptr, EvalVar(L"#ErrorGUFailed %KXEXTERR%"), nullptr, MB_OK);
  return false;
}

// Undoes what the run changed on disk and in the registry (nothing before
// the extraction began) and returns exitCode.
int RollBack(int exitCode) {
  if (RollBackInstallation() > 0)
    ShowMessageBox(nullptr, EvalVar(L"#removeatrestart"), g_launcher.title, MB_ICONWARNING);
  return exitCode;
}

// The script's own message after a failed extraction: "#ErrorUnpacking"
// and the code.
int ReportUnpackingError(long long code) {
  SetNumber(L"KXEXTERR", code);
  ShowMessageBox(nullptr, EvalVar(L"#ErrorUnpacking %KXEXTERR%"), g_launcher.title, MB_ICONERROR);
  return kExitExtractionFailed;
}

// Unpacks the payload into DESTPATH. Returns true to go on; otherwise
// *exitCode is the script's result.
bool InstallPayload(int* exitCode) {
  // Every change from here on is journalled until the uninstaller is
  // written; any end before that undoes them.
  StartInstallJournal();
  ManageUninstLog(KX_LOG_BEGIN);
  unsigned char silent = IsSilent() ? 1 : 0;
  SetVar(L"KXEXTTEXT", L"#Extracting");
  SetVar(L"KXEXTHC", L"0");
  wchar_t destination[kScriptPathCapacity];
  int length = EvalVarBuf(L"%DESTPATH%", destination, kScriptPathBytes);
  // A cut destination would install elsewhere, and a relative one (possible
  // with /D=) into the runtime folder, which goes at the end of the run.
  if (length < 0 || static_cast<size_t>(length) >= kScriptPathCapacity) {
    *exitCode = RollBack(ReportUnpackingError(ERROR_FILENAME_EXCED_RANGE));
    return false;
  }
  if (!IsFullPath(destination)) {
    *exitCode = RollBack(ReportUnpackingError(ERROR_BAD_PATHNAME));
    return false;
  }
  // Before anything is replaced: programs that hold files there are closed
  // or left to the restart, as the run says (services/programs_in_use.h).
  if (DealWithProgramsInUse(destination, &g_programsInUse) == ProgramsInUse::kCancelled) {
    *exitCode = RollBack(CancelEnd());
    return false;
  }
  // Whatever is still held (a program left running, one that would not
  // close, one no search found) is replaced at the next restart.
  EnableRestartReplacements(true);
  uint32_t offset = g_launcher.container.offset + kxformat::kContainerHeaderSize;
  LogLine(L"Extracting the payload into %ls", destination);
  ExtractResult result =
      ExtractArchive(g_launcher.modulePath, destination, &offset, silent, ProgressBoxHandler, InstallFileHook);
  SetNumber(L"TOTALEXTFILE", g_extractedFileCount);
  switch (result.outcome) {
    case ExtractOutcome::kDone:
      return true;
    case ExtractOutcome::kCancelled:
      LogLine(L"Extraction cancelled");
      *exitCode = RollBack(CancelEnd());
      return false;
    case ExtractOutcome::kOutOfMemory:
    case ExtractOutcome::kArchiveError:
    case ExtractOutcome::kEngineFailed:
    case ExtractOutcome::kDiskFull:
    case ExtractOutcome::kCloseFailed:
      break;
  }
  // The engine has shown its own message for the failure already.
  LogLine(L"Error %d: the payload could not be unpacked", result.code);
  *exitCode = RollBack(ReportUnpackingError(result.code));
  return false;
}

void InstallShortcut() {
  wchar_t folder[kScriptPathCapacity];
  EvalVarBuf(L"%SHORTCUTPATH%", folder, kScriptPathBytes);
  if (!DirectoryExists(folder)) {
    // CreateInstallFolderPath logs each folder it creates; the script logs the
    // shortcut folder once more itself.
    CreateInstallFolderPath(folder);
    AddUninstLog(KX_LOG_FOLDER, folder);
  }
  wchar_t program[kPackageScriptTextCapacity];
  wchar_t shortcut[kPackageScriptTextCapacity];
  ProgramFileText(program);
  ShortcutFileText(shortcut);
  wchar_t link[kScriptPathCapacity];
  EvalVarBuf(shortcut, link, kScriptPathBytes);
  // A shortcut of that name from before comes back if the installation
  // fails; one that cannot be moved aside (in use) is left alone.
  DWORD kept = KeepFileAside(link);
  HRESULT saved = HRESULT_FROM_WIN32(kept);
  if (kept == 0) {
    saved = CreateShortcut(program, L"", shortcut, L"", SW_SHOWNORMAL, L"", program, 0);
    if (FAILED(saved) || !RecordCreatedFile(link)) PutBackKeptFile(link);
  }
  // Logged whether or not it was written, so that the uninstaller looks for it.
  AddUninstLog(KX_LOG_FILE, link);
  if (SUCCEEDED(saved))
    LogLine(L"Shortcut created: %ls", link);
  else
    LogLine(L"Error 0x%08lX: the shortcut %ls could not be created", static_cast<unsigned long>(saved), link);
}

// The installed size for the list of programs, in KB: the files this run
// extracted and the uninstaller.
long long EstimatedSizeKb() {
  uint64_t bytes = g_extractedBytes;
  wchar_t uninstaller[kScriptPathCapacity + 16];
  EvalVarBuf(L"%KXSFXPATH%", uninstaller, kScriptPathBytes);
  wcscat(uninstaller, kxformat::kUninstallerFileW);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(uninstaller, GetFileExInfoStandard, &data))
    bytes += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  uint64_t kb = (bytes + 1023) / 1024;
  return kb > 0xFFFFFFFFull ? 0xFFFFFFFFll : static_cast<long long>(kb);
}

// The uninstaller and its log are written by the core library; the journal
// keeps what stood under their names and records the new files, so that a
// failed write leaves the earlier installation's pair as it was. Returns 0,
// or the Windows error code when a file of that name cannot be moved aside
// (in use): it is then not written over either.
DWORD JournalUninstallerFiles() {
  wchar_t path[kScriptPathCapacity + 16];
  int length = EvalVarBuf(L"%DESTPATH%", path, kScriptPathBytes);
  if (length < 0 || static_cast<size_t>(length) >= kScriptPathCapacity) return ERROR_FILENAME_EXCED_RANGE;
  // Named as the core library names them: behind the destination without
  // its trailing separators.
  while (length > 0 && (path[length - 1] == L'\\' || path[length - 1] == L'/')) --length;
  static const wchar_t* const kNames[] = {kxformat::kInstalledUninstallerW, kxformat::kInstalledUninstallLogW};
  for (const wchar_t* name : kNames) {
    path[length] = L'\\';
    wcscpy(path + length + 1, name);
    DWORD error = KeepFileAside(path);
    if (error == 0 && !RecordCreatedFile(path)) error = ERROR_NOT_ENOUGH_MEMORY;
    if (error != 0) return error;
  }
  return 0;
}

// The files held open during the extraction, scheduled to be put in place
// at the next restart. False, after the message, when one cannot be: the
// installation is then undone, since it would be left half old, half new.
bool ScheduleReplacementsAtRestart() {
  const size_t count = RestartReplacementCount();
  if (count == 0) return true;
  wchar_t renameList[kScriptPathCapacity];
  EvalVarBuf(L"%WIN%", renameList, kScriptPathBytes);
  const wchar_t* failed = L"";
  DWORD error = ScheduleRestartReplacements(renameList, &failed);
  if (error == 0) {
    SetVar(L"NEEDREBOOT", L"1");
    LogLine(L"Restart needed: %u files in use are replaced when Windows restarts", static_cast<unsigned>(count));
    return true;
  }
  LogLine(L"Error %lu: the file %ls in use could not be scheduled for replacement at the next restart",
          static_cast<unsigned long>(error), failed);
  ShowMessageBox(nullptr, EvalVar(L"#filesinuse"), g_launcher.title, MB_OK | MB_ICONERROR);
  return false;
}

// Registers the package and writes the uninstaller. Returns true to go on;
// otherwise the run has been undone and *exitCode is the script's result.
bool RegisterPackage(int* exitCode) {
  g_pageCounter = 0;
  SetNumber(L"KXESTIMATEDSIZE", EstimatedSizeKb());
  SetVar(L"UNINSTFNAME", kUninstallerFile);
  SetVarLiteral(L"UNINSTKEY", g_package.uninstallKeyName);
  SetVarLiteral(L"UNINSTDESC", g_package.productName);
  SetVar(L"KXUNINSTADD", L"1");
  RegisterUninstallEntry();
  RecordChosenTasks();
  int error = static_cast<int>(JournalUninstallerFiles());
  if (error == 0 && !ScheduleReplacementsAtRestart()) {
    *exitCode = RollBack(kExitFilesInUse);
    return false;
  }
  if (error == 0) error = ManageUninstLog(KX_LOG_COMMIT);
  if (error == 0) {
    CommitInstallation();
    return true;
  }
  // Reported in both modes: without the uninstaller the product cannot be
  // removed, so the installation is undone and ends with its own code.
  SetNumber(L"KXEXTERR", error);
  ShowMessageBox(nullptr, EvalVar(L"#ErrorGUFailed %KXEXTERR%"), nullptr, MB_OK);
  *exitCode = RollBack(kExitUninstallerNotWritten);
  return false;
}

int ShowFinalPage() {
  wchar_t source[kScriptPathCapacity];
  wchar_t target[kScriptPathCapacity];
  EvalVarBuf(L"%KXSFXPATH%\\kxfin%SELLANG%.rtf", source, kScriptPathBytes);
  EvalVarBuf(L"%KXSFXPATH%\\kxfin%SELLANG%srv.rtf", target, kScriptPathBytes);
  ReplaceVarInFile(source, target, 1);
  // The run is complete only after the restart: the page says so.
  if (RestartReplacementCount() > 0) {
    static wchar_t note[4096];
    EvalVarBuf(L"#restartneeded", note, sizeof note);
    WriteRtfWithNote(target, target, note);
  }
  SetVar(L"KXDLGRICHTEXT", L"%KXSFXPATH%\\kxfin%SELLANG%srv.rtf");
  return ShowPage(L"dlgwizfinal", FinalPageHandler);
}

// After a page between the first and the last: Cancel and abort end the run
// (false, with *exitCode); Back goes to the head of the previous block and
// counts the page back; anything else goes on to the next block.
bool FollowPage(int result, Block back, Block next, Block* block, int* exitCode) {
  switch (PageMove(result)) {
    case Move::Cancel:
      *exitCode = CancelEnd();
      return false;
    case Move::Abort:
      *exitCode = AbortEnd();
      return false;
    case Move::Back:
      --g_pageCounter;
      *block = back;
      return true;
    case Move::Forward:
      break;
  }
  ++g_pageCounter;
  *block = next;
  return true;
}

// The script's number; a complete run whose files wait for the restart
// says so with its own code, which deployment tools act on.
int ExitCodeFromScript() {
  int code = static_cast<int>(wcstol(EvalVar(L"%EXITCODE%"), nullptr, 10));
  if (code == kExitSuccess && RestartReplacementCount() > 0) return kExitRestartNeeded;
  return code;
}

// The language box of a package that asks for the language; Cancel ends the
// run before anything is installed. Returns true to go on.
bool AskLanguage(int* exitCode) {
  if (!g_package.languages.ask) return true;
  switch (ShowLanguageBox()) {
    case KX_PAGE_NEXT:
      ApplyRunLanguage();
      return true;
    case KX_PAGE_CANCEL:
      *exitCode = kExitCancelled;
      return false;
    default:
      *exitCode = kExitAborted;
      return false;
  }
}

// The whole sequence, first page to last.
int RunInstallSequence() {
  int exitCode = kExitSuccess;
  // A /TASKS= that cannot be followed ends the run before anything is asked.
  if (!ChooseStartingTasks(&exitCode)) return exitCode;
  if (!AskLanguage(&exitCode)) return exitCode;
  InitializeVariables();
  if (!UninstallerUsable()) return kExitUninstallerNotWritten;
  if (!ScopeAllowedBeforePages()) return kExitNeedsAdministrator;
  if (!CheckInstalledVersion(&g_installed, &exitCode)) return exitCode;
  Block block = Block::Welcome;
  for (;;) {
    switch (block) {
      case Block::Welcome: {
        PrepareWelcomePage();
        Move move = PageMove(ShowPage(L"dlgwizwelc", WelcomePageHandler));
        if (move == Move::Cancel) return CancelEnd();
        if (move == Move::Abort) return AbortEnd();
        // Back on the first page has nowhere to go and counts as Next.
        ++g_pageCounter;
        SetVar(L"KXDLGLICTXT", L"%KXSFXPATH%\\kxlic%SELLANG%.rtf");
        SetVar(L"KXWIZHEADER", L"%KXSFXPATH%\\kxheader.bmp");
        block = Block::Licence;
        break;
      }
      case Block::Licence: {
        SetVar(L"KXDLGLICINTRO", L"#LicIntro");
        SetVar(L"KXDLGLICEND", L"#LicEnd");
        SetVar(L"KXDLGLICCAPT", L"#WizLicAgTitle");
        int result = ShowPage(L"dlgwizlicag", LicensePageHandler);
        if (!FollowPage(result, Block::Welcome, Block::Scope, &block, &exitCode)) return exitCode;
        break;
      }
      case Block::Scope: {
        bool changed = false;
        const int result = ShowScopePage(&changed);
        // Only a package that offers both scopes shows the page; for the
        // others it neither counts nor stands in the way back.
        if (!PackageOffersBothScopes() || IsSilent()) {
          block = Block::Destination;
          break;
        }
        if (!FollowPage(result, Block::Licence, Block::Destination, &block, &exitCode)) return exitCode;
        if (changed) {
          // What is installed, and where, is judged again in the new scope.
          if (!CheckInstalledVersion(&g_installed, &exitCode)) return exitCode;
          SetScopeDefaults();
        }
        break;
      }
      case Block::Destination: {
        SetVar(L"DLGSELPROMPT", L"#BrowseFolders");
        SetVar(L"DLGSELPATH", L"%DESTPATH%");
        SetVar(L"KXDLGCAPTION", L"#WizDirTitle");
        SetVar(L"DLGSELPROMPT2", L"#AskBrowseFolders");
        block = Block::StartMenu;
        // Silent: DESTPATH stays as it is and the page does not count.
        if (IsSilent()) {
          LogSkippedPage(L"dlgwizseldir");
          break;
        }
        PrepareDestinationSpace();
        int result = ShowDialogBox(L"dlgwizseldir", DestinationPageHandler);
        const Block back = PackageOffersBothScopes() ? Block::Scope : Block::Licence;
        if (!FollowPage(result, back, Block::StartMenu, &block, &exitCode)) return exitCode;
        if (block == Block::StartMenu) SetVar(L"DESTPATH", L"%DLGSELPATH%");
        break;
      }
      case Block::StartMenu: {
        SetVar(L"DLGSELPATH", L"%SHORTCUTPATH%");
        SetVar(L"KXSHORTCUTROOT", L"%COMPROGMENUDIR%");
        int result = ShowPage(L"dlgwizselgroup", StartMenuPageHandler);
        if (!FollowPage(result, Block::Destination, Block::Tasks, &block, &exitCode)) return exitCode;
        if (block == Block::Tasks) SetVar(L"SHORTCUTPATH", L"%DLGSELPATH%");
        break;
      }
      case Block::Tasks: {
        // Only a package with tasks has the page.
        if (!HasTasksPage()) {
          block = Block::Install;
          break;
        }
        int result = ShowPage(L"dlgwiztasks", TasksPageHandler);
        if (!FollowPage(result, Block::StartMenu, Block::Install, &block, &exitCode)) return exitCode;
        break;
      }
      case Block::Install: {
        if (!InstallPayload(&exitCode)) return exitCode;
        // The [[shortcut]] tables replace the one shortcut of [install]; they
        // are written with the other declarations.
        if (!HasDeclaredShortcuts(g_declarations)) InstallShortcut();
        if (int failed = CarryOutDeclarations()) {
          exitCode = RollBack(failed);
          AnnounceRolledBackDeclarations();
          return exitCode;
        }
        block = Block::Register;
        break;
      }
      case Block::Register:
        if (!RegisterPackage(&exitCode)) return exitCode;
        block = Block::Final;
        break;
      case Block::Final: {
        int result = ShowFinalPage();
        Move move = PageMove(result);
        if (move == Move::Abort) return AbortEnd();
        if (move == Move::Back) {
          --g_pageCounter;
          block = Block::Register;
          break;
        }
        // Close, and also Cancel, lead to the tasks.
        ++g_pageCounter;
        RunPostInstallTasks();
        if (result == kFinalPageAbort) return AbortEnd();
        return ExitCodeFromScript();
      }
    }
  }
}

}  // namespace

int RunInstallScript() {
  g_programsInUse.count = 0;
  EnableRestartReplacements(false);
  const int exitCode = RunInstallSequence();
  // Whether the installation succeeded or was undone: what was closed for
  // it runs again when the command line asks.
  RestartClosedPrograms(g_programsInUse);
  return exitCode;
}
