// The uninstaller's step for what a package's declarations added to the
// system (KX_STEP_DECLARED): PATH entries, environment variables and file
// associations, each undone only as far as it is still the package's.
//
//   PATH entry   the entry goes from the Path value wherever it stands now;
//                every other entry and the value's type (REG_EXPAND_SZ) stay
//   variable     deleted while it still holds the value setup gave it;
//                a value changed since is someone else's and stays
//   association  the package's ProgID key goes, and its name from the
//                extension's OpenWithProgids; the extension's default value
//                only while it still names the ProgID (a program that took
//                the extension over since keeps it); the extension's keys
//                when nothing is left in them. An extension another program
//                owned before setup (KX_LOG_ASSOCIATIONTAKEN) names that
//                program's ProgID again, while it is still registered
//
// Running programs are told of a changed environment (WM_SETTINGCHANGE
// "Environment") and the shell of changed associations (SHChangeNotify).
#ifndef KX_CORE_DECLARED_REMOVAL_H
#define KX_CORE_DECLARED_REMOVAL_H

#include "core/kxcore.h"
#include "core/uninstall_steps.h"

namespace kxcore {

// Returns 0, or the Windows error code of the first change that exists but
// could not be undone (the later steps then keep the log for another try).
int RemoveDeclaredEffects(UninstallRun* run, KxUninstallStepCallback callback);

}  // namespace kxcore

#endif
