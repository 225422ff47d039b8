#include "script/setup_work.h"

#include "launcher/install_folders.h"
#include "script/install_rollback.h"
#include "script/install_script.h"

namespace {
int RunScript() { return RunInstallScript(); }
// Every end of the script commits or undoes the installation itself; one
// cut short by a crash in the script still leaves nothing half-installed.
void FinishSetup() { RollBackInstallation(); }
}  // namespace

const ProgramWork kSetupProgram = {ProgramKind::Setup, PackageFoldersAllowed, nullptr, RunScript,
                                   L"Package execution aborted.", FinishSetup};
