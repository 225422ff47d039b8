#include "launcher/package_scope.h"

#include <string.h>

#include "base/package_format.h"

namespace {

bool Is(const char* text, size_t length, const char* name) {
  return length == strlen(name) && memcmp(text, name, length) == 0;
}

}  // namespace

bool IsPackageScopeKey(const char* key, size_t length) { return Is(key, length, kxformat::kInstallScopeKey); }

bool StorePackageScopeValue(const char* value, size_t length, PackageScopeValue* scope) {
  if (scope->seen) return false;
  scope->seen = true;
  if (Is(value, length, kxformat::kScopeAllUsers))
    scope->scope = PackageScope::kAllUsers;
  else if (Is(value, length, kxformat::kScopeCurrentUser))
    scope->scope = PackageScope::kCurrentUser;
  else if (Is(value, length, kxformat::kScopeBoth))
    scope->scope = PackageScope::kChoice;
  else
    return false;
  return true;
}
