// kxpackage.dat, the package's values as the programs read them at start-up.
// The format is base/package_format.h; the reader is launcher/package_data.h.
#ifndef KX_TOOLS_KXPACK_PACKAGE_DATA_FILE_H
#define KX_TOOLS_KXPACK_PACKAGE_DATA_FILE_H

#include <string>

#include "tools/kxpack/package_description.h"

// The file's text for a checked description: the format line, then every
// key in the format's order.
std::string PackageDataText(const PackageDescription& description);

#endif
