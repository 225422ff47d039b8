// The programs' command line, read by the core library at InitSFX with the
// parser the launcher uses too (launcher/command_switches.h):
//   /S                  run silently (SILENT stays "1" for the whole run)
//   /D=<folder>         destination of a silent installation; last on the
//                       line, the folder may hold blanks and needs no quotes
//   /LOG, /LOG=<file>   the run log; the launcher opens it and hands it over
//                       with InitRunLog, or refuses it (then InitSFX shows
//                       the usage and stops the run)
//   /SUPPRESSMSGBOXES   with /S, message boxes are answered unseen (InitRunLog)
//   /LANG=<language>    the run's language: a name of kKnownLanguages or a
//                       language id (core/language_choice.h); any other
//                       value is an unknown argument
//   /ALLOWDOWNGRADE, /CLOSEAPPLICATIONS, /NOCLOSEAPPLICATIONS,
//   /RESTARTAPPLICATIONS  base/command_switches.h; the variables
//                       KXALLOWDOWNGRADE, KXCLOSEAPPS ("1" close, "0" do
//                       not, empty: not given; both given: an unknown
//                       argument) and KXRESTARTAPPS hold them
//   /?                  show the usage and do nothing else
// Switches compare without regard to case.
#ifndef KX_CORE_COMMAND_LINE_H
#define KX_CORE_COMMAND_LINE_H

#include <windows.h>

#include <string>

namespace kxcore {

struct CommandLineOptions {
  bool silent = false;
  bool usage = false;             // /? given, or a switch we do not know
  bool suppressMessageBoxes = false;
  bool log = false;
  std::wstring logFile;           // from /LOG=, empty for /LOG alone
  std::wstring destination;       // from /D=, empty when not given
  unsigned short language = 0;    // from /LANG=, 0 when not given
  bool allowDowngrade = false;    // /ALLOWDOWNGRADE
  bool closeApplications = false; // /CLOSEAPPLICATIONS
  bool noCloseApplications = false;  // /NOCLOSEAPPLICATIONS
  bool restartApplications = false;  // /RESTARTAPPLICATIONS
  bool allUsers = false;          // /ALLUSERS
  bool currentUser = false;       // /CURRENTUSER
  std::wstring unknownArgument;   // the first argument we do not know
};

// Parses a full command line as GetCommandLineW gives it, program name first.
CommandLineOptions ParseCommandLine(const wchar_t* commandLine);

// /ALLUSERS or /CURRENTUSER against the scopes the package offers
// (packageScope: the launcher's KXPACKAGESCOPE, "all_users", "current_user"
// or "both"; the uninstaller gives the scope of the installation): a switch
// the package cannot follow is refused as a mistyped one, so that a
// deployment tool never gets an installation in the scope it did not ask for.
// A switch that agrees is accepted.
void JudgeScopeSwitch(const std::wstring& packageScope, CommandLineOptions* options);

// True once InitSFX has shown the usage: the run must stop without changing
// anything (ShowDialogBox cancels every page, InitUninstall answers 0).
bool StopRequested();

// A /LOG file the launcher refused (InitRunLog with KX_RUNLOG_REFUSED):
// InitSFX names it with the usage and stops the run.
void RefuseRunLogFile(const wchar_t* path);

// InitSFX: reads the command line, sets the start-up variables ISADMIN,
// PROGFILESDIR, COMPROGMENUDIR and WIN (and SILENT, DESTPATH when given; for
// an interactive run's /D= KXCMDDESTPATH, which the folder page starts with)
// and
// chooses the run's language (core/run_language.h).
void InitializeRun(HINSTANCE instance);

}  // namespace kxcore

#endif
