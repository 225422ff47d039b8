// The package data's scope line (base/package_format.h): who the package
// installs for. Optional, at most once, after the fixed keys; a package for
// all users has none, and its file is as it always was.
//
//   install.scope=all_users|current_user|both
#ifndef KX_LAUNCHER_PACKAGE_SCOPE_H
#define KX_LAUNCHER_PACKAGE_SCOPE_H

#include <stddef.h>

enum class PackageScope : unsigned char {
  kAllUsers = 0,    // Program Files, the all-users Start menu, HKEY_LOCAL_MACHINE; administrators only
  kCurrentUser = 1, // the user's programs folder, Start menu and HKEY_CURRENT_USER; no administrator needed
  kChoice = 2       // either; each run chooses (launcher/install_scope.h)
};

struct PackageScopeValue {
  PackageScope scope;  // kAllUsers without the line
  bool seen;           // the line was read
};

// True when the key (length bytes, not terminated) is the scope line's.
bool IsPackageScopeKey(const char* key, size_t length);

// Keeps the line's value (UTF-8, not terminated). False when the value is
// neither scope or the line is repeated.
bool StorePackageScopeValue(const char* value, size_t length, PackageScopeValue* scope);

#endif
