// A reinstall or an upgrade into the folder of an earlier installation of
// the package. The new uninstall log takes over what the earlier
// installation left, so that one uninstall later removes what either
// installed; and a restart still pending from an uninstall must not delete
// the new installation.
//
// In the order the core library calls them (ManageUninstLog):
//   begin    RememberEarlierInstallation: the earlier log, read before the
//            run replaces it (or an install journal moves it aside);
//   commit   AdoptEarlierInstallation, then the uninstaller and the log are
//            written, then KeepNewInstallationAtRestart.
#ifndef KX_CORE_PREVIOUS_INSTALLATION_H
#define KX_CORE_PREVIOUS_INSTALLATION_H

#include <string>
#include <vector>

#include "core/uninstall_log.h"
#include "core/uninstall_scope.h"

namespace kxcore {

// The records of an earlier log that the new installation's uninstaller will
// accept (uninstall_scope.h) and that still exist, in their order.
std::vector<UninstallRecord> SurvivingRecords(const std::vector<UninstallRecord>& earlier,
                                              const UninstallScope& scope);

// Reads installFolder\Uninst.dat, if there is a complete one, and keeps its
// records for AdoptEarlierInstallation in a temporary file (a piece of the
// log and a buffer in memory, whatever its size); forgets them for an empty
// folder.
void RememberEarlierInstallation(const std::wstring& installFolder);

// Before the new log is written into installFolder (a full path): puts the
// surviving remembered records in front of this run's records (read one at a
// time, the survivors through a temporary file of their own), and records
// as the package's own the folders in scope that an uninstall scheduled for
// deletion at the next restart and that hold what the new log names.
// renameList is the start-up rename list (%WIN%).
void AdoptEarlierInstallation(const std::wstring& installFolder, const UninstallScope& scope,
                              const std::wstring& renameList);

// Once the uninstaller and the log are written: withdraws the pending restart
// deletions of every path the log names and of the folders in scope that
// hold them. Renames and other deletions stay.
void KeepNewInstallationAtRestart(const std::wstring& installFolder, const UninstallScope& scope,
                                  const std::wstring& renameList);

}  // namespace kxcore

#endif
