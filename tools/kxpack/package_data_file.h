// kxpackage.dat, the package's values as the programs read them at start-up.
// The format is base/package_format.h; the reader of the programs is
// launcher/package_data.h. kxpack writes it, and reads back what a built
// package carries.
#ifndef KX_TOOLS_KXPACK_PACKAGE_DATA_FILE_H
#define KX_TOOLS_KXPACK_PACKAGE_DATA_FILE_H

#include <cstdint>
#include <string>

#include "tools/kxpack/package_description.h"

// The file's text for a checked description: the format line, then every
// key in the format's order, then the languages' lines of a package that
// offers more than English or asks for the language.
std::string PackageDataText(const PackageDescription& description);

// The values of a file's text into the description's product, install and
// tasks fields (its pages and payload stay empty). As strict about the
// format as the programs: the format line, every key exactly once, nothing
// else, UTF-8 texts, flags 0 or 1; the languages' lines are checked as the
// programs check them and left out. False with what is wrong.
bool ParsePackageData(const std::string& text, PackageDescription* values, std::string* error);

#endif
