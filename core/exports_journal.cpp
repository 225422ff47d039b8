// Finishing an installation run killed from outside. Both programs need it,
// and the library carries it once for both (launcher/journal_recovery.h).
#include "core/journal_recovery.h"
#include "core/kxcore.h"

extern "C" {

int FinishInterruptedInstall(const wchar_t* folder) {
  try {
    RecoveryResult result = RecoverInterruptedInstallation(folder);
    return result.outcome == RecoveryOutcome::kInUse || result.outcome == RecoveryOutcome::kNotFinished
               ? KX_RECOVERY_LEFT
               : KX_RECOVERY_DONE;
  } catch (...) {
    return KX_RECOVERY_LEFT;
  }
}

}  // extern "C"
