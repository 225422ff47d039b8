// A reinstall or an upgrade into the folder of an earlier installation of
// the package: when setup writes its uninstall log, it takes over what the
// earlier installation left, so that one uninstall later removes what either
// installed, and a restart still pending from an uninstall does not delete
// the new installation.
#ifndef KX_CORE_PREVIOUS_INSTALLATION_H
#define KX_CORE_PREVIOUS_INSTALLATION_H

#include <string>
#include <vector>

#include "uninstall_log.h"

namespace kxcore {

// What the package's uninstall log may name: files and folders in the
// installation folder (the folder itself included) or strictly below the
// Start-menu programs folder, registry values and keys in the package's own
// uninstall key (its subkeys included).
struct PackageScope {
  std::wstring installFolder;   // DESTPATH
  std::wstring startMenuRoot;   // COMPROGMENUDIR
  std::wstring registryKey;     // KXUNINSTREGKEY, below HKEY_LOCAL_MACHINE
};

// True when path (a file or folder) lies within the scope.
bool IsPackagePath(const std::wstring& path, const PackageScope& scope);

// The records of an earlier log that lie within the scope and still exist,
// in their order; none when the log is missing or damaged.
std::vector<UninstallRecord> SurvivingRecords(const std::vector<UninstallRecord>& earlier, const PackageScope& scope);

// Before the new log is written: puts the surviving records of the log
// already in the installation folder in front of this run's records, and
// withdraws the pending restart deletions of every path the new log names
// and of the folders holding them within the scope; such a folder that was
// to be deleted is the package's own and is recorded as such. renameList is
// the start-up rename list (%WIN%).
void TakeOverPreviousInstallation(const PackageScope& scope, const std::wstring& renameList);

}  // namespace kxcore

#endif
