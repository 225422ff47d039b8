// A package kxpack built, read back as a tool that lists it needs it: the
// package data its runtime carries, and the SHA-256 of the very bytes those
// values were read from.
#ifndef KX_TOOLS_KXPACK_BUILT_PACKAGE_H
#define KX_TOOLS_KXPACK_BUILT_PACKAGE_H

#include <string>

#include "tools/kxpack/package_description.h"

struct BuiltPackage {
  PackageDescription values;  // product, install and tasks, from kxpackage.dat
  std::string sha256;         // of the whole file, 64 upper-case hex digits
};

// Reads a setup program (a package with a payload) once, and takes both the
// values and the digest from that one reading, so that they always belong
// to the same file. False with a message naming path: not a regular file,
// not a package the programs would start, an uninstaller, or no valid
// package data in its runtime archive.
bool ReadBuiltSetup(const std::string& path, BuiltPackage* package, std::string* error);

#endif
