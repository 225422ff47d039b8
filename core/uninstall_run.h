// The uninstaller's side of the core library: whether this process is an
// installed uninstaller, and the five steps run against its uninstall log.
#ifndef KX_CORE_UNINSTALL_RUN_H
#define KX_CORE_UNINSTALL_RUN_H

#include "core/kxcore.h"

namespace kxcore {

// 1 when the program (ARCNAME) has its uninstall log beside it, named like
// the program with ".dat" ("Uninst.exe" -> "Uninst.dat"), and no /? was
// given; the last step then schedules the running file for deletion at
// restart. Otherwise 0, after telling an interactive user that there is no
// uninstall log.
int DecideUninstall();

// Runs one step: 0 reads the log (a missing or damaged log, or one naming
// anything outside the uninstall scope, is reported and fails the step
// before anything is removed) and deletes the files; 1 folders; 3 registry
// values; 2 registry keys; 4 the log, then schedules the uninstaller and its
// folder for restart. Returns 0 or a Windows error code.
int RunUninstallStep(int step, KxUninstallStepCallback callback);

}  // namespace kxcore

#endif
