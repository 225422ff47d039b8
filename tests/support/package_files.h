// Takes built packages apart and puts modified ones together, the way the
// package builder lays them out, so tests can craft broken or unusual packages.
#ifndef KX_TESTS_SUPPORT_PACKAGE_FILES_H
#define KX_TESTS_SUPPORT_PACKAGE_FILES_H

#include <stdint.h>

#include <string>

namespace kxtest {

struct PackageParts {
  std::string stub;             // the image up to the container offset
  std::string payloadArchive;   // empty for an uninstaller
  std::string runtimeArchive;
};

// Splits a package file's bytes; false when it has no readable container.
bool SplitPackage(const std::string& package, PackageParts* parts);

// Stub, "KX", payload length, file size and both archives.
std::string ComposePackage(const PackageParts& parts);

// The package with its runtime archive replaced; empty when the package has
// no readable container.
std::string WithRuntimeArchive(const std::string& package, const std::string& runtimeArchive);

// The container offset the program's reader computes from these bytes.
uint32_t ContainerOffsetOf(const std::string& package);

}  // namespace kxtest

#endif
