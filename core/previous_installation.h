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
#include "uninstall_scope.h"

namespace kxcore {

// The records of an earlier log that the new installation's uninstaller will
// accept (uninstall_scope.h) and that still exist, in their order.
std::vector<UninstallRecord> SurvivingRecords(const std::vector<UninstallRecord>& earlier,
                                              const UninstallScope& scope);

// Before the new log is written into installFolder (a full path): puts the
// surviving records of the log already there in front of this run's records,
// and withdraws the pending restart deletions of every path the new log
// names (the uninstaller and the log among them) and of the folders in scope
// that hold them. Such a folder that was to be deleted is the package's own
// and is recorded as created by it. renameList is the start-up rename list
// (%WIN%).
void TakeOverPreviousInstallation(const std::wstring& installFolder, const UninstallScope& scope,
                                  const std::wstring& renameList);

}  // namespace kxcore

#endif
