// The exported C interface of kxcore64.dll, the core UI and scripting library.
//
// Both programs include this header and reach the library through the lazy
// binder (launcher/core_binding.cpp): the first call of any operation loads
// the library from the runtime folder and resolves the operation by name.
// The library itself implements exactly these functions (core/kxcore64.def).
//
// Conventions of every operation:
//   - texts are zero-terminated UTF-16; "%NAME%" references and "#key"
//     language keys inside them are resolved as docs/core-library.md describes;
//   - buffers belong to the caller and sizes are given in bytes;
//   - no C++ exception ever leaves the library.
#ifndef KX_CORE_KXCORE_H
#define KX_CORE_KXCORE_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Events delivered to a dialog handler.
enum {
  KX_EVENT_CREATED = 0,   // the dialog exists and is about to be shown
  KX_EVENT_COMMAND = 1,   // a control was activated; param = its control id
  KX_EVENT_IDLE = 2,      // reserved; handlers return 0
  KX_EVENT_ENTER = 3,     // Enter pressed while the focus is not on a button
  KX_EVENT_EDITED = 4     // an edit field's text changed; param = its control id
};

// Page results a handler closes a page with, and what ShowDialogBox returns.
enum {
  KX_PAGE_STAY = 0,
  KX_PAGE_NEXT = 1,
  KX_PAGE_CANCEL = 2,
  KX_PAGE_BACK = 3,
  KX_PAGE_ABORT = 4       // the page could not be shown
};

// Kinds of uninstall log records.
enum {
  KX_LOG_FILE = 0,
  KX_LOG_FOLDER = 1,
  KX_LOG_REGKEY = 2,
  KX_LOG_REGVALUE = 3,
  // What a package's declarations add to the system (docs/uninstall-log.md):
  // a PATH entry:  "<root>\<environment key>" "<entry>"
  // a variable:    "<root>\<environment key>" "<name>" "<value>"
  // a file type:   "<root>\Software\Classes\<.ext>" "<ProgID>"
  // a file type another program owned before (its ProgID, given back at
  // uninstall while the extension still names ours):
  //                 "<root>\Software\Classes\<.ext>" "<ProgID>" "<earlier ProgID>"
  KX_LOG_PATHENTRY = 4,
  KX_LOG_ENVVAR = 5,
  KX_LOG_ASSOCIATION = 6,
  KX_LOG_ASSOCIATIONTAKEN = 7
};

// Steps of PerformUninstall. The uninstaller runs them in the order files,
// folders, registry values, registry keys, and last the log itself.
enum {
  KX_STEP_FILES = 0,
  KX_STEP_FOLDERS = 1,
  KX_STEP_REGKEYS = 2,
  KX_STEP_REGVALUES = 3,
  KX_STEP_LOG = 4,
  // The PATH entries, variables and associations (kinds 4 to 6), before the
  // registry values: the running programs and the shell are told once.
  KX_STEP_DECLARED = 5
};

// Operations of ManageUninstLog.
enum {
  KX_LOG_BEGIN = 0,       // start a new log in memory
  KX_LOG_COMMIT = 1,      // write the uninstaller and the log into DESTPATH
  KX_LOG_DISCARD = 2      // forget the log
};

// Close-progress message: posted or sent to a progress box with both
// parameters 0, it closes the box.
#define KX_WM_CLOSEPROGRESS (WM_USER + 14)

// A dialog handler; returns 0 to keep the dialog open, otherwise the page
// result. Progress box handlers always return 0.
typedef int (*KxDialogHandler)(UINT event, HWND dialog, WPARAM param, LPARAM extra);

// Called by PerformUninstall for every item a step handles: the step, the
// record kind and its text. The result is ignored.
typedef int (*KxUninstallStepCallback)(int step, int kind, const wchar_t* text);

// Stores value under name, with the %NAME% references in value expanded now.
void SetVar(const wchar_t* name, const wchar_t* value);

// Evaluates text. The result belongs to the library and stays valid until the
// same thread has made eight further EvalVar calls.
const wchar_t* EvalVar(const wchar_t* text);

// Evaluates text into buffer (sizeBytes bytes). The result is always
// terminated when sizeBytes >= 2 and never overruns the buffer. Returns the
// full length of the evaluation in UTF-16 units (terminator not counted); a
// value of sizeBytes / 2 or more means the result was cut.
int EvalVarBuf(const wchar_t* text, wchar_t* buffer, int sizeBytes);

// Flags of InitRunLog.
enum {
  KX_RUNLOG_SUPPRESS_BOXES = 1,  // /S with /SUPPRESSMSGBOXES: boxes are answered, not shown
  KX_RUNLOG_REFUSED = 2          // logFile is a /LOG file the launcher refused (the
                                 // program, an uninstaller or an uninstall log)
};

// Hands the program's run-log settings to the library before InitSFX, so that
// the library's lines (variables, pages, message boxes, the uninstall log and
// the uninstall steps) go into the program's log: logFile is the full path of
// the log (null or empty: no log), flags a combination of KX_RUNLOG_ flags.
// With KX_RUNLOG_REFUSED the file is never opened: InitSFX names it with the
// usage and stops the run as after /?.
void InitRunLog(const wchar_t* logFile, int flags);

// Reads the command line and sets the library's start-up variables.
void InitSFX(HINSTANCE instance);

// Returns 1 when this process is an installed uninstaller that is to run the
// uninstall flow; its own program file may then be deleted at restart.
int InitUninstall(void);

// Before InitUninstall: a record (kind and text exactly as setup logs it)
// the package's own declarations could have made, which the uninstaller may
// therefore remove besides the package's folders and uninstall key. A log
// naming a registry key or value outside those, or any PATH entry, variable
// or association not allowed here, is refused as forged. A file record
// (KX_LOG_FILE) allows exactly that file outside the installation's folders:
// a shortcut the package declares on the desktop.
void AllowUninstallRecord(int kind, const wchar_t* text);

// Runs one uninstall step (KX_STEP_FILES ... KX_STEP_DECLARED). Returns 0 when
// the step is done, otherwise a Windows error code.
int PerformUninstall(int step, KxUninstallStepCallback callback);

// Shows the named dialog modally; returns the page result its handler closed
// it with, or KX_PAGE_ABORT when it cannot be shown.
int ShowDialogBox(const wchar_t* dialogName, KxDialogHandler handler);

// The language box before the wizard: asks which of the package's languages
// (KXLANGUAGES) the run speaks, the one InitSFX chose preselected, and makes
// the choice the run's language (SELLANG, KXLANGID, KXLANGRTL and the
// language table). Asks nothing and returns KX_PAGE_NEXT when the package
// offers one language, /LANG= named one, or the run is silent; otherwise
// KX_PAGE_NEXT for a choice, KX_PAGE_CANCEL when the user cancelled (or
// after /?), KX_PAGE_ABORT when the box could not be shown.
int ShowLanguageBox(void);

// Shows the "dlgprogress" box on a thread of its own and returns once the
// handler has received KX_EVENT_CREATED. Returns 0, or non-zero on failure.
int ShowProgressBox(KxDialogHandler handler);

// The control with the given id in a dialog of the library, or NULL.
HWND KXDlgGetDlgItem(HWND dialog, int itemId);

// Decides whether the file at path is installed: 0 skip, 2 install at the
// path written back into the buffer, any other value install at path.
int CheckFileProp(int flags, wchar_t* path, int sizeBytes);

// Appends a record to the uninstall log begun with ManageUninstLog(0).
void AddUninstLog(int kind, const wchar_t* text);

// KX_LOG_BEGIN, KX_LOG_COMMIT or KX_LOG_DISCARD; 0 or a Windows error code.
int ManageUninstLog(int operation);

// Results of FinishInterruptedInstall.
enum {
  KX_RECOVERY_DONE = 0,   // no journal, or the killed run it named is finished and the journal deleted
  KX_RECOVERY_LEFT = 1    // a journal stays: a running installation holds it, or it could not be read or deleted
};

// Finishes an installation run that was killed while it changed folder, from
// the journal file it left there (docs/rollback.md): rolls the run back, or
// completes its commit, and deletes the journal. Writes every step into the
// run log and shows nothing.
int FinishInterruptedInstall(const wchar_t* folder);

// Writes target as a copy of source with its variable references replaced;
// flags 1 escapes the inserted values for RTF. 0 or a Windows error code.
int ReplaceVarInFile(const wchar_t* source, const wchar_t* target, int flags);

#ifdef __cplusplus
}
#endif

#endif
