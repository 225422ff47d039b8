// Operations whose real implementation has not landed yet; each group moves
// to an exports_<concern>.cpp file of its own when it does. Until then they
// answer as a library that shows nothing and records nothing.
#include "command_line.h"
#include "kxcore.h"

extern "C" {

// ---- uninstaller ----

int InitUninstall(void) { return 0; }

int PerformUninstall(int, KxUninstallStepCallback) { return 0; }

// ---- dialogs ----

int ShowDialogBox(const wchar_t*, KxDialogHandler) {
  return kxcore::StopRequested() ? KX_PAGE_CANCEL : KX_PAGE_ABORT;
}

int ShowProgressBox(KxDialogHandler) { return 1; }

HWND KXDlgGetDlgItem(HWND dialog, int itemId) { return dialog ? GetDlgItem(dialog, itemId) : nullptr; }

// ---- text files ----

int ReplaceVarInFile(const wchar_t*, const wchar_t*, int) { return ERROR_CALL_NOT_IMPLEMENTED; }

}  // extern "C"
