// AddUninstLog and ManageUninstLog: the uninstall log of the installation.
#include "kxcore.h"
#include "module_files.h"
#include "uninstall_log.h"
#include "variables.h"

extern "C" {

void AddUninstLog(int kind, const wchar_t* text) {
  try {
    kxcore::AddUninstallRecord(kind, text);
  } catch (...) {
  }
}

int ManageUninstLog(int operation) {
  try {
    switch (operation) {
      case KX_LOG_BEGIN:
        kxcore::BeginUninstallLog();
        return 0;
      case KX_LOG_COMMIT:
        return static_cast<int>(kxcore::CommitUninstallLog(kxcore::Evaluate(L"%DESTPATH%"),
                                                           kxcore::LibraryFolder() + L"kxremove.dat"));
      case KX_LOG_DISCARD:
        kxcore::DiscardUninstallLog();
        return 0;
      default:
        return ERROR_INVALID_PARAMETER;
    }
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // extern "C"
