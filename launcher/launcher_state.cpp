// The launcher's process-wide values, apart from the main routine so that
// subsystems (and their tests) can read them without the launcher itself.
#include "launcher/launcher_main.h"

LauncherState g_launcher;
