#include "launcher/single_instance.h"

#include <windows.h>
#include <wchar.h>

#include "base/handle_guard.h"

namespace {

constexpr wchar_t kPrefix[] = L"Global\\KxPackage-";

KernelHandle g_instance;

}  // namespace

bool PackageInstanceName(const wchar_t* uninstallKeyName, wchar_t* name, size_t capacity) {
  const size_t prefixLength = wcslen(kPrefix);
  const size_t keyLength = wcslen(uninstallKeyName);
  if (keyLength == 0 || prefixLength + keyLength >= capacity) return false;
  wmemcpy(name, kPrefix, prefixLength);
  for (size_t i = 0; i <= keyLength; ++i)
    name[prefixLength + i] = uninstallKeyName[i] == L'\\' ? L'_' : uninstallKeyName[i];
  return true;
}

bool ClaimPackageInstance(const wchar_t* uninstallKeyName) {
  wchar_t name[kInstanceNameCapacity];
  if (!PackageInstanceName(uninstallKeyName, name, kInstanceNameCapacity)) return true;
  KernelHandle mutex(CreateMutexW(nullptr, FALSE, name));
  if (!mutex) {
    if (GetLastError() != ERROR_ACCESS_DENIED) return true;
    // Denied either because a run under another account made the mutex (it
    // is alive) or because this account may not create global objects at
    // all; only the first is a second instance.
    KernelHandle existing(OpenMutexW(SYNCHRONIZE, FALSE, name));
    return !existing && GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  // A mutex left by a run that ended without releasing it is abandoned, and
  // ours now.
  DWORD waited = WaitForSingleObject(mutex.get(), 0);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
  g_instance = static_cast<KernelHandle&&>(mutex);
  return true;
}

void ReleasePackageInstance() {
  if (g_instance) ReleaseMutex(g_instance.get());
  g_instance.reset();
}
