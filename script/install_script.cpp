#include "install_script.h"

#include <wchar.h>

#include "kxcore.h"

int RunInstallScript() {
  return static_cast<int>(wcstol(EvalVar(L"%EXITCODE%"), nullptr, 10));
}
