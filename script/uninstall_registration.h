// The package's entry in the Windows list of installed programs.
#ifndef KX_SCRIPT_UNINSTALL_REGISTRATION_H
#define KX_SCRIPT_UNINSTALL_REGISTRATION_H

#include <stddef.h>

// Capacity of a formatted uninstall log text, terminating zero included.
constexpr size_t kRegistryLogCapacity = 8192;

// Writes the six REG_SZ values of the uninstall entry under
// HKEY_LOCAL_MACHINE\<the package's uninstall key> (DisplayName,
// DisplayVersion, UninstallString, Publisher, URLInfoAbout, DisplayIcon;
// URLInfoAbout only when the package has a web address) and, for each value
// written, logs the value (kind 3: "HKEY_LOCAL_MACHINE\<key>" "<name>") and
// then its key (kind 2: HKEY_LOCAL_MACHINE\<key>). A value that cannot be
// written is skipped without a log record. Needs UNINSTFNAME and DESTPATH.
void RegisterUninstallEntry();

#endif
