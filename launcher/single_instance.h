// One run of a package at a time. Setup and uninstaller of one package share
// a named mutex derived from the package's uninstall key, so that a second
// setup, a setup while the uninstaller runs and the reverse are refused
// before they change anything.
#ifndef KX_LAUNCHER_SINGLE_INSTANCE_H
#define KX_LAUNCHER_SINGLE_INSTANCE_H

#include <stddef.h>

// Capacity of a mutex name, terminating zero included.
constexpr size_t kInstanceNameCapacity = 300;

// The mutex name for an uninstall key name: "Global\KxPackage-" and the key
// name with every '\' as '_' (a backslash would name a namespace). False
// when it does not fit.
bool PackageInstanceName(const wchar_t* uninstallKeyName, wchar_t* name, size_t capacity);

// Takes the package's mutex for this process, which keeps it until
// ReleasePackageInstance or its end. False when another process holds it. A
// mutex that cannot be made at all (no name, no resources) does not stop the
// run: true.
bool ClaimPackageInstance(const wchar_t* uninstallKeyName);

void ReleasePackageInstance();

#endif
