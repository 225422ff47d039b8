// A core library for one test: it lets the uninstaller start and run its
// flow silently, and its PerformUninstall crashes, so that the crash happens
// inside the uninstaller's script guard.
#include <windows.h>

#include "core/kxcore.h"

extern "C" {

void SetVar(const wchar_t*, const wchar_t*) {}
const wchar_t* EvalVar(const wchar_t*) { return L"1"; }  // administrator, silent
int EvalVarBuf(const wchar_t*, wchar_t* buffer, int sizeBytes) {
  if (sizeBytes >= 4) lstrcpyW(buffer, L"1");
  return 1;
}
void InitSFX(HINSTANCE) {}
int InitUninstall(void) { return 1; }
int FinishInterruptedInstall(const wchar_t*) { return KX_RECOVERY_DONE; }
int PerformUninstall(int, KxUninstallStepCallback) {
  *static_cast<volatile int*>(nullptr) = 0;
  return 0;
}

}  // extern "C"
