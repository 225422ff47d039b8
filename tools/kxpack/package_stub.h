// Where the shared prebuilt stubs become this package's programs. The stubs
// are the same files for every package; whatever a package changes in its
// programs (their resources, a signature) happens in these two functions.
#ifndef KX_TOOLS_KXPACK_PACKAGE_STUB_H
#define KX_TOOLS_KXPACK_PACKAGE_STUB_H

#include <string>
#include <vector>

#include "tools/kxpack/package_description.h"
#include "tools/kxpack/package_resources.h"

// Turns a prebuilt stub (the image only, no container yet) into the
// package's stub. False with a message.
bool MakePackageStub(const PackageDescription& description, ProgramRole role, std::vector<unsigned char>* stub,
                     std::string* error);

// Runs once a program file at path is complete and has read back: the
// uninstaller before it goes into the setup program's runtime archive, the
// setup program before it takes the output's place. It may rewrite the file;
// the build reads it back again afterwards. False with a message.
bool CompleteProgram(const PackageDescription& description, ProgramRole role, const std::string& path,
                     std::string* error);

#endif
