#include "uninstall/uninstall_work.h"

#include "uninstall/uninstall_flow.h"

const ProgramWork kUninstallerProgram = {ProgramKind::Uninstaller, nullptr, PrepareUninstall, RunUninstall,
                                         L"Uninstaller execution aborted.", nullptr};
