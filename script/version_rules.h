// The package's version against the installed one, read from the uninstall
// entry's DisplayVersion (base/version_order.h orders them):
//
// | Installed          | What setup does                                         |
// |--------------------|---------------------------------------------------------|
// | none               | a first installation                                    |
// | older, unordered   | an upgrade, as always                                   |
// | the same           | a reinstall: the welcome page says so, every file of    |
// |                    | the package is written again                            |
// | newer              | refused with #downgraderefused and kExitDowngradeRefused, |
// |                    | unless the package (install.allow_downgrade) or         |
// |                    | /ALLOWDOWNGRADE allows it                               |
//
// Every case is written to the run log.
#ifndef KX_SCRIPT_VERSION_RULES_H
#define KX_SCRIPT_VERSION_RULES_H

enum class InstalledVersion { kNone, kOlder, kSame, kNewerAllowed, kUnordered };

// Judges the installed version before the first page and sets KXINSTALLEDVER
// (empty when none is installed). Returns true to go on, with *found saying
// what is installed; false when a downgrade is refused (its message shown,
// unless the run is silent), with *exitCode set. Nothing is changed either way.
bool CheckInstalledVersion(InstalledVersion* found, int* exitCode);

#endif
