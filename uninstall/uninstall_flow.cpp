#include "uninstall_flow.h"

#include "kxcore.h"
#include "launcher_main.h"
#include "restart_operations.h"

bool PrepareUninstall() {
  if (InitUninstall() != 1) return false;
  MoveFileOnRestart(g_launcher.modulePath, nullptr);
  return true;
}

int RunUninstall() { return 0; }
