// Operations whose full behaviour lands with the dialog engine, the uninstall
// log and the uninstaller; until then they answer as a library that shows
// nothing and records nothing.
#include "command_line.h"
#include "kxcore.h"

extern "C" {

int InitUninstall(void) { return 0; }

int PerformUninstall(int, KxUninstallStepCallback) { return 0; }

int ShowDialogBox(const wchar_t*, KxDialogHandler) {
  return kxcore::StopRequested() ? KX_PAGE_CANCEL : KX_PAGE_ABORT;
}

int ShowProgressBox(KxDialogHandler) { return 1; }

HWND KXDlgGetDlgItem(HWND dialog, int itemId) { return dialog ? GetDlgItem(dialog, itemId) : nullptr; }

int CheckFileProp(int, wchar_t*, int) { return 1; }

void AddUninstLog(int, const wchar_t*) {}

int ManageUninstLog(int) { return 0; }

int ReplaceVarInFile(const wchar_t*, const wchar_t*, int) { return ERROR_CALL_NOT_IMPLEMENTED; }

}  // extern "C"
