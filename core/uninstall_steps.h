// What the uninstaller's five steps undo, from the records of an uninstall
// log: files (step 0), folders (1), registry values (3), registry keys (2)
// and finally the log itself (4). Nothing that is already gone is an error.
#ifndef KX_CORE_UNINSTALL_STEPS_H
#define KX_CORE_UNINSTALL_STEPS_H

#include <windows.h>

#include <string>
#include <vector>

#include "base/record_spill.h"
#include "core/kxcore.h"
#include "core/path_order.h"
#include "core/uninstall_log.h"
#include "core/uninstall_scope.h"

namespace kxcore {

struct UninstallRun {
  std::wstring uninstallerPath;  // the running uninstaller, scheduled for restart by the last step
  std::wstring logPath;          // removed by the last step
  std::vector<UninstallRecord> records;
  // The log's file and folder records, resolved: a log may name a million
  // of either, so they wait in temporary files (each its UTF-16 units)
  // rather than in records.
  RecordSpill files;
  RecordSpill folders;
  std::vector<std::wstring> scheduled;  // paths scheduled for deletion at restart, in order
  // Folders that hold nothing but the uninstaller, the log and what is
  // scheduled: the last step schedules them after the uninstaller.
  std::vector<std::wstring> leavingFolders;
  // The same two lists as sets, for look-ups.
  PathSet scheduledSet;
  PathSet leavingSet;
  // What the records may remove: each file and folder is checked against it
  // once more as the object it opens, right before it is deleted.
  UninstallScope scope;
};

// Called with each file or folder right before it is opened for removal;
// null outside tests. A test puts a link in place here, between the log's
// check and the removal.
extern void (*g_beforeOpenForRemoval)(const std::wstring& path);

// Step 0: deletes the logged files (read-only ones too). A file that cannot
// be deleted now (in use) is scheduled for deletion at restart. Each file is
// opened without following a link at its last level, the opened object's
// own path checked against run->scope, and deleted through that handle: a
// link or junction swapped in after the log's check cannot redirect the
// deletion. A link inside the folder is removed as a link, never followed;
// an object that turns out to lie outside is left alone. Returns 0.
int RemoveLoggedFiles(UninstallRun* run, KxUninstallStepCallback callback);

// Step 1: removes the logged folders (those of records and of folders),
// deepest first and each once, only when empty; in memory, at most
// kFolderSlice folders of one depth at a time. A
// folder that holds nothing but the uninstaller, the log and what is
// scheduled at restart (the uninstaller's own folder) is kept for the last
// step to schedule; one that holds anything else (files the user added)
// stays. A folder that has become a link or junction is removed as a link,
// whatever it leads to; each removal goes through a handle as in step 0.
// Returns 0.
constexpr size_t kFolderSlice = 16384;
int RemoveLoggedFolders(UninstallRun* run, KxUninstallStepCallback callback, size_t slice = kFolderSlice);

// Step 3: deletes the logged registry values. Returns 0, or the Windows
// error code of a value that exists but could not be deleted (the later
// steps then keep the log for another try).
int RemoveLoggedValues(UninstallRun* run, KxUninstallStepCallback callback);

// Step 2: deletes the logged registry keys that are left empty, deepest
// first. Returns 0.
int RemoveLoggedKeys(UninstallRun* run, KxUninstallStepCallback callback);

// Step 4, run only when every other step succeeded: deletes the log file
// (scheduling it if it cannot go now), then schedules the running
// uninstaller and after it the folders step 1 kept, deepest first, so that
// each folder is empty when its turn comes at restart. Returns 0.
int RemoveLogFile(UninstallRun* run, KxUninstallStepCallback callback);

// Splits a registry record ("HKEY_LOCAL_MACHINE\key" or, for a value,
// "\"HKEY_LOCAL_MACHINE\key\" \"name\"") into its root, key and value name.
bool ParseRegistryRecord(const std::wstring& text, bool isValue, HKEY* root, std::wstring* key, std::wstring* name);

}  // namespace kxcore

#endif
