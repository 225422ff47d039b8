// What the uninstaller may remove. A log is only a file in the installation
// folder, so whoever can write that folder can forge one; before the first
// removal every record is checked against the places this installation
// owns, and a log naming anything else is treated as damaged.
//
//   files       strictly inside the folder the uninstaller runs from, or inside
//               a folder strictly below the all-users Start-menu programs folder,
//               or exactly a desktop shortcut the declarations allowed
//   folders     that folder itself or any folder inside it; a folder strictly
//               below the Start-menu programs folder; a folder above the
//               uninstaller's folder (one the installation created on the way,
//               never a volume root: folders go only when empty)
//   registry    HKEY_LOCAL_MACHINE\<the package's uninstall key> and below it;
//               for an installation for the current user only, the same key
//               below HKEY_CURRENT_USER and nothing of HKEY_LOCAL_MACHINE; and
//               what the package's declarations could have made
//               (core/declared_scope.h): its registry keys and values, PATH
//               entries, environment variables and file associations
//
// For the current user the Start-menu folder is the user's own (the setup
// program and the uninstaller point COMPROGMENUDIR at it), so a per-user log
// can name no machine-wide place.
//
// Paths must be full and normal as the installation writes them: a drive or
// UNC path with backslashes only, no "\\?\" or "\\.\" prefix, no empty, "."
// or ".." component, no component ending in a dot or blank, no stream colon,
// wildcard, control character or device name. Short (8.3) names, letter case
// and links are resolved before the containment is judged: a junction inside
// the installation folder that leads elsewhere does not make elsewhere ours.
#ifndef KX_CORE_UNINSTALL_SCOPE_H
#define KX_CORE_UNINSTALL_SCOPE_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "core/uninstall_log.h"

namespace kxcore {

struct UninstallScope {
  std::wstring programFolder;   // resolved folder of the running uninstaller
  std::wstring startMenuRoot;   // resolved all-users Start-menu programs folder; empty: none
  std::wstring registryKey;     // the package's uninstall key below the scope's hive; empty: none
  bool currentUser = false;     // the hive is HKEY_CURRENT_USER, not HKEY_LOCAL_MACHINE
};

// The scope of the uninstaller at uninstallerPath. startMenuRoot,
// registryKey and registryRoot as the core library's variables hold them
// (COMPROGMENUDIR, KXUNINSTREGKEY, KXUNINSTREGROOT); a registry key that is
// not a normal key path of at least two components is taken as none, and
// any root but "HKEY_CURRENT_USER" as HKEY_LOCAL_MACHINE.
UninstallScope MakeUninstallScope(const std::wstring& uninstallerPath, const std::wstring& startMenuRoot,
                                  const std::wstring& registryKey, const std::wstring& registryRoot = L"");

// True when path is a full, normal path as described above (not resolved).
bool IsNormalFullPath(const std::wstring& path);

// The path as the file system knows it: short names expanded, letter case
// and links of every existing component but the last resolved. A part that
// does not exist is kept as written.
std::wstring ResolvePath(const std::wstring& path);

// The form the installation records a file or folder path in: made full
// and normal by the system (forward slashes, "." and "..", trailing dots and
// blanks), a folder without a trailing backslash. A relative path is kept.
std::wstring NormalRecordPath(const std::wstring& path);

// True when the record names something the uninstaller may remove.
bool RecordInScope(const UninstallRecord& record, const UninstallScope& scope);

// True when every record is in scope; the file and folder records' texts
// are then replaced by their resolved paths (ResolvePath's). On false the
// records are as they were.
bool ResolveRecordsInScope(std::vector<UninstallRecord>* records, const UninstallScope& scope);

// The same judgement one record at a time, for a log read as a stream: each
// folder is listed once while its records come one after the other, and
// only the last few listings are kept, so that a log of a million files
// costs the listing of a folder, not of the installation.
class RecordJudge {
 public:
  explicit RecordJudge(const UninstallScope& scope);
  ~RecordJudge();
  // True when the record is in scope; a file or folder record's text is
  // then its resolved path. On false the record is as it was.
  bool Resolve(UninstallRecord* record);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The path of the object an open handle refers to, as the file system knows
// it, without the "\\?\" prefix (base/handle_removal.h; requested is the
// path it was opened by). False when Windows cannot tell.
bool OpenedObjectPath(HANDLE handle, const std::wstring& requested, std::wstring* path);

// True when an object found at path (OpenedObjectPath's answer) is one a
// record of kind (KX_LOG_FILE or KX_LOG_FOLDER) may remove.
bool OpenedObjectInScope(int kind, const std::wstring& path, const UninstallScope& scope);

}  // namespace kxcore

#endif
