// Builds a package from its description: the uninstaller (uninstaller stub
// and its runtime), then the setup program (setup stub, payload, and a
// runtime that carries that uninstaller as kxremove.dat).
#ifndef KX_TOOLS_KXPACK_PACKAGE_BUILD_H
#define KX_TOOLS_KXPACK_PACKAGE_BUILD_H

#include <cstdint>
#include <string>

#include "tools/kxpack/program_builder.h"

struct PackageBuildOptions {
  std::string description;  // package.toml
  std::string out;          // the setup program to write
  std::string payload;      // when given, the payload folder instead of the description's
  std::string parts;        // when given, the prebuilt parts folder
  std::string stage;        // when given, keeps the runtime folders there (runtime-setup, runtime-uninst)
  std::string sign;         // when given, the signing command for both programs (signing.h)
  uint64_t solidBlockBytes = kDefaultSolidBlockBytes;
};

// The runtime files get this time when no SOURCE_DATE_EPOCH is set, so that
// the same inputs give the same bytes: 2020-01-15 01:00:00 UTC.
constexpr long long kDefaultRuntimeFileTime = 1579050000;

// Returns the exit code: 0, or 1 after printing every problem. A failed build
// leaves no file at out (a previous one is removed, so that no stale package
// passes for the new one).
int BuildPackage(const PackageBuildOptions& options);

#endif
