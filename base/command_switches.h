// The command line of both programs, read the same way by the launcher (which
// needs /LOG and /SUPPRESSMSGBOXES before anything else happens) and by the
// core library (which acts on the rest at InitSFX):
//
//   /S                  silent run
//   /D=<folder>         destination of a silent installation; last on the
//                       line: the rest of the line is the folder, blanks
//                       included, surrounding quotes optional
//   /LOG                write a log into the temporary-files folder
//   /LOG=<file>         write the log into file; quote it when it holds blanks
//   /SUPPRESSMSGBOXES   with /S: answer every message box with its default
//                       answer without showing it
//   /LANG=<language>    the language of the run: a shipped language's name
//                       or a language id (base/language_names.h); any other
//                       value is an unknown argument
//   /ALLOWDOWNGRADE     setup: install over a newer installed version
//   /CLOSEAPPLICATIONS  close the programs that hold files of the
//                       installation without asking (a silent run's choice)
//   /NOCLOSEAPPLICATIONS  leave them running: what they hold is replaced or
//                       removed at the next restart (the default of /S)
//   /RESTARTAPPLICATIONS  start the programs closed that way again at the end
//   /ALLUSERS           install for all users (a package that offers both
//                       scopes; for the others only where it agrees)
//   /CURRENTUSER        install for the current user only (the same)
//   /TASKS=<a,b>        setup: exactly these of the package's tasks; empty
//                       for none (the names are judged by setup, which
//                       knows the package's tasks: launcher/task_choice.h)
//   /?                  show the usage and change nothing
//
// Switch names compare without regard to case. Anything else is an unknown
// argument, which shows the usage like /?.
#ifndef KX_BASE_COMMAND_SWITCHES_H
#define KX_BASE_COMMAND_SWITCHES_H

#include <stddef.h>

// A stretch of the command line; the parser never copies, so a value is as
// long as the line allows and is never cut.
struct TextSpan {
  const wchar_t* text;
  size_t length;
};

struct CommandSwitches {
  bool silent;
  bool usage;                 // /? given, or an argument we do not know
  bool suppressMessageBoxes;
  bool log;                   // /LOG or /LOG=<file>
  bool allowDowngrade;        // /ALLOWDOWNGRADE
  bool closeApplications;     // /CLOSEAPPLICATIONS
  bool noCloseApplications;   // /NOCLOSEAPPLICATIONS
  bool restartApplications;   // /RESTARTAPPLICATIONS
  bool allUsers;              // /ALLUSERS
  bool currentUser;           // /CURRENTUSER
  bool tasksGiven;            // /TASKS=, even with an empty list
  TextSpan logFile;           // empty for /LOG alone
  TextSpan destination;       // from /D=; empty when not given
  TextSpan language;          // from /LANG=; empty when not given
  TextSpan tasks;             // from /TASKS=
  TextSpan unknownArgument;   // the first argument we do not know
};

// Parses a full command line as GetCommandLineW gives it, program name first.
// The spans point into line, which must outlive them.
void ParseCommandSwitches(const wchar_t* line, CommandSwitches* switches);

#endif
