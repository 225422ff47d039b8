// The files /LOG=<file> may not name. The run log is appended to, so a log
// file that is the running program or an installation's uninstaller,
// uninstall log or install journal would be damaged: a program that no
// longer starts, an uninstall log the uninstaller refuses for ever after.
#ifndef KX_LAUNCHER_RUN_LOG_FILE_H
#define KX_LAUNCHER_RUN_LOG_FILE_H

enum class RunLogFileVerdict {
  kAllowed,
  kProgram,       // the running program itself
  kUninstallLog,  // the uninstaller's own uninstall log (the program's name
                  // with ".dat"), or any file named Uninst.dat
  kUninstaller,   // any file named Uninst.exe
  kInstallJournal // any file named as the install journal (~kxsetup.jnl), which
                  // a killed setup's successor reads back
};

// Judges the log file (a full path) for the running program (a full path);
// uninstaller tells whether the program is an uninstaller, which reads its
// uninstall log beside itself. Letter case, short names and ".." do not hide
// a file, and an existing file is compared by its identity, so a hard link
// to the program or its uninstall log is refused too. Setup writes
// Uninst.exe, Uninst.dat and its journal into a folder it learns only later,
// so those names are refused in every folder, whether the file exists or not.
RunLogFileVerdict JudgeRunLogFile(const wchar_t* log, const wchar_t* program, bool uninstaller);

#endif
