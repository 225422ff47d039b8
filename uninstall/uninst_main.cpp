// The uninstaller program: the launcher running the uninstall flow.
#include <windows.h>

#include "launcher/launcher_main.h"
#include "uninstall/uninstall_flow.h"

namespace {
const ProgramWork kUninstallerProgram = {ProgramKind::Uninstaller, nullptr, PrepareUninstall, RunUninstall,
                                         L"Uninstaller execution aborted."};
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  return LauncherMain(instance, kUninstallerProgram);
}
