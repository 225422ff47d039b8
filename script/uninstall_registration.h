// The package's entry in the Windows list of installed programs.
#ifndef KX_SCRIPT_UNINSTALL_REGISTRATION_H
#define KX_SCRIPT_UNINSTALL_REGISTRATION_H

#include <stddef.h>

// Capacity of a formatted uninstall log text, terminating zero included.
constexpr size_t kRegistryLogCapacity = 8192;

// Writes the uninstall entry under HKEY_LOCAL_MACHINE\<the package's
// uninstall key>: the REG_SZ values DisplayName, DisplayVersion,
// UninstallString, Publisher, URLInfoAbout (only when the package has a web
// address), DisplayIcon, InstallLocation (DESTPATH), QuietUninstallString
// ("<uninstaller>" /S), and the REG_DWORDs EstimatedSize (KXESTIMATEDSIZE, in
// KB), NoModify and NoRepair (1). For each value written it logs the value
// (kind 3: "HKEY_LOCAL_MACHINE\<key>" "<name>") and then its key (kind 2:
// HKEY_LOCAL_MACHINE\<key>). A value that cannot be written is skipped
// without a log record. Needs UNINSTFNAME, DESTPATH and KXESTIMATEDSIZE.
void RegisterUninstallEntry();

#endif
