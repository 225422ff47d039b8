// The programs that hold files of an installation open, found before setup
// replaces or the uninstaller removes anything there, and closing them.
//
// Finding: Windows' Restart Manager is asked about every file in the folder
// (rstrtmgr.dll, from the system folder only), and the processes whose
// program lies in the folder are added, since a running program holds its
// own image and the Restart Manager does not answer everywhere (Wine's
// lists nothing). The calling process is never listed. Processes the
// Restart Manager calls critical, and the Windows shell, are left out:
// closing them is not the installation's to do; what they hold waits for
// the restart.
//
// Closing goes as at log-off: each top-level window of the program gets
// WM_QUERYENDSESSION and WM_ENDSESSION (ENDSESSION_CLOSEAPP), then WM_CLOSE;
// a program still running kPoliteCloseWaitMs after that is ended with
// TerminateProcess. A program's process is identified by its id and start
// time, so that a process that ended meanwhile and left its id to another
// is never touched.
#ifndef KX_SERVICES_RUNNING_PROGRAMS_H
#define KX_SERVICES_RUNNING_PROGRAMS_H

#include <windows.h>
#include <stddef.h>

// The most programs listed; more are counted in RunningPrograms::more and
// closed or left alike with the rest on a second look.
constexpr size_t kRunningProgramCapacity = 32;
constexpr size_t kProgramNameCapacity = 256;
constexpr size_t kProgramImageCapacity = 1024;
// How long closed programs get to end after being asked, and how long an
// ended one gets to go away, in milliseconds.
constexpr DWORD kPoliteCloseWaitMs = 10000;
constexpr DWORD kForcedCloseWaitMs = 5000;
// The most files of the folder named to the Restart Manager: a folder with
// more is still looked at for the programs that lie in it.
constexpr size_t kRestartManagerFileLimit = 4096;

enum class ProgramState { kRunning, kClosed, kEnded, kStillRunning };

struct RunningProgram {
  DWORD processId;
  FILETIME started;
  wchar_t name[kProgramNameCapacity];    // what the user knows it by
  wchar_t image[kProgramImageCapacity];  // its program file; empty when not known
  ProgramState state;
};

struct RunningPrograms {
  size_t count;
  size_t more;  // found beyond the capacity
  bool restartManagerAnswered;
  RunningProgram programs[kRunningProgramCapacity];
};

// Finds the programs that hold files of folder (a full path, with or
// without a trailing separator) open or run from it.
void FindProgramsInFolder(const wchar_t* folder, RunningPrograms* found);

// True when the program path lies inside folder (compared without regard to
// case, as Windows compares names).
bool ImageLiesInFolder(const wchar_t* image, const wchar_t* folder);

// Asks every listed program to close, waits, and ends those still running;
// sets each program's state: kClosed (ended when asked), kEnded (ended by
// force) or kStillRunning (could not be ended, or not opened).
void ClosePrograms(RunningPrograms* programs);

// Starts again the programs ClosePrograms closed or ended whose program file
// is known, each in its own folder, without arguments. Returns how many
// started.
size_t RestartPrograms(const RunningPrograms& programs);

#endif
