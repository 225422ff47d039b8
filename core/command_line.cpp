#include "core/command_line.h"

#include <shlobj.h>

#include "base/command_switches.h"
#include "base/message_box.h"
#include "core/language_choice.h"
#include "core/run_language.h"
#include "core/variables.h"

namespace kxcore {
namespace {

bool g_stopRequested;
// A /LOG file the launcher refused, and its path.
bool g_logRefused;
std::wstring g_refusedLogFile;

std::wstring Text(const TextSpan& span) { return span.text ? std::wstring(span.text, span.length) : std::wstring(); }

// The two folder ids the library asks for, spelled out here: taking them
// from libuuid would bring its whole table of ids (40 KB) into the library.
constexpr KNOWNFOLDERID kProgramFilesFolder = {0x905e63b6, 0xc1bf, 0x494e, {0xb2, 0x9c, 0x65, 0xb7, 0x32, 0xd3, 0xd2, 0x1a}};
constexpr KNOWNFOLDERID kCommonProgramsFolder = {0x0139d44e, 0x6afe, 0x49f2, {0x86, 0x90, 0x3d, 0xaf, 0xca, 0xe6, 0xff, 0xb8}};

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) result = path;
  CoTaskMemFree(path);
  return result;
}

bool RunsAsAdministrator() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &administrators))
    return false;
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

std::wstring WindowsFolderFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  std::wstring path(folder, length);
  if (path.back() != L'\\') path += L'\\';
  return path + name;
}

void ShowUsage(const std::wstring& unknownArgument) {
  std::wstring text;
  if (g_logRefused) text = Evaluate(L"#CmdLineLogRefused") + L" " + g_refusedLogFile + L"\r\n\r\n";
  if (!unknownArgument.empty()) text += Evaluate(L"#CmdLineUnknown") + L" " + unknownArgument + L"\r\n\r\n";
  // The usage text is one line of the language table; '|' marks its line breaks.
  for (wchar_t c : Evaluate(L"#CmdLineUsage")) {
    if (c == L'|')
      text += L"\r\n";
    else
      text += c;
  }
  std::wstring title;
  GetVariable(L"APPTITLE", &title);
  const bool mistaken = !unknownArgument.empty() || g_logRefused;
  ShowMessageBox(nullptr, text.c_str(), title.c_str(), MB_TOPMOST | (mistaken ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace

CommandLineOptions ParseCommandLine(const wchar_t* commandLine) {
  CommandSwitches switches;
  ParseCommandSwitches(commandLine, &switches);
  CommandLineOptions options;
  options.silent = switches.silent;
  options.usage = switches.usage;
  options.suppressMessageBoxes = switches.suppressMessageBoxes;
  options.log = switches.log;
  options.logFile = Text(switches.logFile);
  options.destination = Text(switches.destination);
  options.unknownArgument = Text(switches.unknownArgument);
  options.allowDowngrade = switches.allowDowngrade;
  options.closeApplications = switches.closeApplications;
  options.noCloseApplications = switches.noCloseApplications;
  options.restartApplications = switches.restartApplications;
  options.allUsers = switches.allUsers;
  options.currentUser = switches.currentUser;
  // Closing and not closing at once is no choice: refused like a mistyped
  // switch rather than one of them silently winning.
  if (options.closeApplications && options.noCloseApplications) {
    options.usage = true;
    if (options.unknownArgument.empty()) options.unknownArgument = L"/CLOSEAPPLICATIONS /NOCLOSEAPPLICATIONS";
  }
  if (options.allUsers && options.currentUser) {
    options.usage = true;
    if (options.unknownArgument.empty()) options.unknownArgument = L"/ALLUSERS /CURRENTUSER";
  }
  // The parser took only a /LANG= that names a language (any other is an
  // unknown argument).
  if (switches.language.text) options.language = LanguageFromSwitch(Text(switches.language));
  return options;
}

void JudgeScopeSwitch(const std::wstring& packageScope, CommandLineOptions* options) {
  if (options->usage || packageScope == L"both") return;
  // Without the package's data (a damaged package) the run stops anyway.
  if (packageScope.empty()) return;
  const bool currentUserOnly = packageScope == L"current_user";
  const wchar_t* refused = nullptr;
  if (options->allUsers && currentUserOnly) refused = L"/ALLUSERS";
  if (options->currentUser && !currentUserOnly) refused = L"/CURRENTUSER";
  if (!refused) return;
  options->usage = true;
  options->unknownArgument = refused;
}

bool StopRequested() { return g_stopRequested; }

void RefuseRunLogFile(const wchar_t* path) {
  g_logRefused = true;
  g_refusedLogFile = path;
}

void InitializeRun(HINSTANCE) {
  SetVariable(L"ISADMIN", RunsAsAdministrator() ? L"1" : L"0");
  SetVariable(L"PROGFILESDIR", KnownFolder(kProgramFilesFolder));
  SetVariable(L"COMPROGMENUDIR", KnownFolder(kCommonProgramsFolder));
  SetVariable(L"WIN", WindowsFolderFile(L"wininit.ini"));

  CommandLineOptions options = ParseCommandLine(GetCommandLineW());
  std::wstring packageScope;
  if (GetVariable(L"KXPACKAGESCOPE", &packageScope)) JudgeScopeSwitch(packageScope, &options);
  // Before the usage, which speaks it too.
  StartRunLanguage(options.language);
  if (options.usage || g_logRefused) {
    // Nothing is installed or removed: pages cancel and silence is off.
    g_stopRequested = true;
    PinVariable(L"SILENT", L"0");
    ShowUsage(options.unknownArgument);
    return;
  }
  if (options.silent) {
    PinVariable(L"SILENT", L"1");
    if (!options.destination.empty()) PinVariable(L"DESTPATH", options.destination);
  }
  // An interactive run's /D=: the folder page starts with it, and the user
  // may still change it. Always set, so that it never reads as a reference.
  PinVariable(L"KXCMDDESTPATH", options.silent ? std::wstring() : options.destination);
  PinVariable(L"KXALLOWDOWNGRADE", options.allowDowngrade ? L"1" : L"0");
  PinVariable(L"KXCLOSEAPPS", options.closeApplications ? L"1" : options.noCloseApplications ? L"0" : L"");
  PinVariable(L"KXRESTARTAPPS", options.restartApplications ? L"1" : L"0");
  // The scope the command line chose, "" for none: the launcher decides
  // the run's scope with it (launcher/install_scope.h).
  PinVariable(L"KXSCOPESWITCH", options.allUsers ? L"allusers" : options.currentUser ? L"currentuser" : L"");
}

}  // namespace kxcore
