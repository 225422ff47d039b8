// kxpackage.dat, the package's values as the programs read them at start-up
// (launcher/package_data.h describes the format; the reader there is the
// programs'). kxpack writes it, and reads back what a built package carries.
#ifndef KX_TOOLS_KXPACK_PACKAGE_DATA_FILE_H
#define KX_TOOLS_KXPACK_PACKAGE_DATA_FILE_H

#include <cstdint>
#include <string>

#include "tools/kxpack/package_description.h"

constexpr char kPackageDataFile[] = "kxpackage.dat";

// The most the programs read of it.
constexpr uint64_t kMaxPackageDataBytes = 32 << 10;

// The file's text for a checked description.
std::string PackageDataText(const PackageDescription& description);

// The values of a file's text into the description's product, install and
// tasks fields (its pages and payload stay empty). As strict about the
// format as the programs: the format line, every key exactly once, nothing
// else, UTF-8 texts, flags 0 or 1. False with what is wrong.
bool ParsePackageData(const std::string& text, PackageDescription* values, std::string* error);

#endif
