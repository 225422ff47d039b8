// The uninstaller's operations.
#include "core/declared_scope.h"
#include "core/kxcore.h"
#include "core/uninstall_run.h"

extern "C" {

int InitUninstall(void) {
  try {
    return kxcore::DecideUninstall();
  } catch (...) {
    return 0;
  }
}

void AllowUninstallRecord(int kind, const wchar_t* text) {
  try {
    if (text) kxcore::AllowDeclaredRecord(kind, text);
  } catch (...) {
  }
}

int PerformUninstall(int step, KxUninstallStepCallback callback) {
  try {
    return kxcore::RunUninstallStep(step, callback);
  } catch (...) {
    return ERROR_OUTOFMEMORY;
  }
}

}  // extern "C"
