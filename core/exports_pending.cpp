// Operations whose real implementation has not landed yet; each group moves
// to an exports_<concern>.cpp file of its own when it does. Until then they
// answer as a library that shows nothing and records nothing.
#include "kxcore.h"

extern "C" {

// ---- uninstaller ----

int InitUninstall(void) { return 0; }

int PerformUninstall(int, KxUninstallStepCallback) { return 0; }


}  // extern "C"
