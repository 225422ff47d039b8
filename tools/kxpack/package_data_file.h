// kxpackage.dat, the package's values as the programs read them at start-up
// (launcher/package_data.h describes the format; the reader there is the
// only one).
#ifndef KX_TOOLS_KXPACK_PACKAGE_DATA_FILE_H
#define KX_TOOLS_KXPACK_PACKAGE_DATA_FILE_H

#include <string>

#include "tools/kxpack/package_description.h"

constexpr char kPackageDataFile[] = "kxpackage.dat";

// The file's text for a checked description.
std::string PackageDataText(const PackageDescription& description);

#endif
