// The uninstaller's scope check (core/uninstall_scope.h) as far as it is
// rules over texts: which paths are full and normal, which lie in the
// installation's places, and which registry records name the package's key.
// Portable (UTF-16 as char16_t, no Windows header), so that the fuzz targets
// run it over hostile logs; resolving paths on the file system stays in
// core/uninstall_scope.cpp.
#ifndef KX_CORE_UNINSTALL_SCOPE_RULES_H
#define KX_CORE_UNINSTALL_SCOPE_RULES_H

#include <stddef.h>

#include <string_view>

namespace kxcore {

// Negative, 0 or positive as path a sorts before, equal to or after b,
// without regard to case. The core library hands in CompareStringOrdinal's
// order (core/path_order.h), the one the file system tells names apart by.
using PathComparison = int (*)(std::u16string_view a, std::u16string_view b);

// Length of the root ("C:\" or "\\server\share\"), 0 when there is none.
// For a UNC path the server and share are checked as components afterwards.
size_t PathRootLength(std::u16string_view path);

// A drive or UNC path with backslashes only, no "\\?\" or "\\.\" prefix, no
// empty, "." or ".." component, no component ending in a dot or blank, no
// stream colon, wildcard, control character or device name.
bool IsNormalFullPath(std::u16string_view path);

// A registry key path of one or more components: no empty component, no
// control character.
bool IsNormalKeyPath(std::u16string_view key);

// True when child lies strictly below parent.
bool IsPathBelow(std::u16string_view child, std::u16string_view parent, PathComparison compare);

enum class RegistryRoot { kLocalMachine, kCurrentUser, kClassesRoot, kUsers };

// The places an installation owns, resolved (see UninstallScope).
struct ScopeRoots {
  std::u16string_view programFolder;  // the uninstaller's folder
  std::u16string_view startMenuRoot;  // the scope's Start-menu programs folder; empty: none
  std::u16string_view registryKey;    // below registryRoot; empty: none
  // HKEY_LOCAL_MACHINE for an installation for all users, HKEY_CURRENT_USER
  // for one for the current user only: its records name no other hive.
  RegistryRoot registryRoot = RegistryRoot::kLocalMachine;
};

// path: a file (kind 0) or folder (kind 1) record's text as resolved on the
// file system. True when the uninstaller may remove it.
bool ResolvedPathInScope(int kind, std::u16string_view path, const ScopeRoots& scope, PathComparison compare);

// Splits a registry record ("HKEY_LOCAL_MACHINE\key" or, for a value,
// "\"HKEY_LOCAL_MACHINE\key\" \"name\"") into its root, key and value name
// (views into text). False when it is not one.
bool SplitRegistryRecord(std::u16string_view text, bool isValue, RegistryRoot* root, std::u16string_view* key,
                         std::u16string_view* name, PathComparison compare);

// True when a registry key (kind 2) or value (kind 3) record names the
// package's key or something below it, in the scope's hive (owner).
bool RegistryRecordInScope(int kind, std::u16string_view text, std::u16string_view registryKey,
                           PathComparison compare, RegistryRoot owner = RegistryRoot::kLocalMachine);

}  // namespace kxcore

#endif
