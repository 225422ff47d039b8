#include "tools/kxpack/package_stub.h"

#include "tools/kxpack/pe_stub.h"

// The package's own icon, version information and title go into each
// program's resources; the names the script uses come from kxpackage.dat at
// run time. Signing happens in BuildProgram, once a program is complete.

bool MakePackageStub(const PackageDescription& description, ProgramRole role, std::vector<unsigned char>* stub,
                     std::string* error) {
  StubImage prepared;
  if (!PrepareStub(*stub, &prepared, error)) return false;
  PackageIdentity identity;
  identity.title = description.windowTitle;
  identity.productName = description.name;
  identity.version = description.version;
  identity.publisher = description.publisher;
  identity.icon = description.icon;
  // Both programs follow the scope: a package for the current user never
  // asks for an administrator; one that offers both takes the rights the
  // user has (an administrator's, elevated, so that "for all users" can be
  // chosen), and never forces a standard user to find an administrator.
  if (description.scope == kxformat::kScopeCurrentUser) identity.executionLevel = "asInvoker";
  if (description.scope == kxformat::kScopeBoth) identity.executionLevel = "highestAvailable";
  std::vector<unsigned char> rewritten;
  if (!ApplyPackageResources(prepared.bytes, identity, role, &rewritten, error)) {
    *error = description.file + ": the programs' resources: " + *error;
    return false;
  }
  *stub = std::move(rewritten);
  return true;
}

bool CompleteProgram(const PackageDescription&, ProgramRole, const std::string&, std::string*) { return true; }
