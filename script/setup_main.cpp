// The setup program: the launcher running the install script.
#include <windows.h>

#include "launcher/install_folders.h"
#include "launcher/launcher_main.h"
#include "script/install_rollback.h"
#include "script/install_script.h"

namespace {
int RunScript() { return RunInstallScript(); }
const ProgramWork kSetupProgram = {ProgramKind::Setup, PackageFoldersAllowed, nullptr, RunScript,
                                   L"Package execution aborted."};
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int exitCode = LauncherMain(instance, kSetupProgram);
  // Every end of the script commits or undoes the installation itself; one
  // cut short by a crash in the script still leaves nothing half-installed.
  RollBackInstallation();
  return exitCode;
}
