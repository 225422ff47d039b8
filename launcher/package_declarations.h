// What the package declares beyond its files (base/declarations_format.h):
// file associations, PATH entries, environment variables, registry values
// and programs to run. The launcher reads their lines of kxpackage.dat with
// the package's other values (launcher/package_data.cpp hands each line of a
// declarations table here) and holds every value to the rule kxpack judged
// it by (base/declaration_rules.h): a file changed inside the package cannot
// declare what kxpack would refuse.
#ifndef KX_LAUNCHER_PACKAGE_DECLARATIONS_H
#define KX_LAUNCHER_PACKAGE_DECLARATIONS_H

#include <stddef.h>

#include "base/declarations_format.h"
#include "base/package_format.h"

constexpr size_t kDeclTextCapacity = kxformat::kPackageTextMaxUnits + 1;

// Every table's entries in one array, the tables one after another.
constexpr size_t kDeclEntriesTotal = 16 + 8 + 16 + 32 + 8 + 16 + 8;

struct DeclEntry {
  wchar_t fields[kxformat::kDeclFieldsMax][kDeclTextCapacity];  // by the table's field index
  unsigned char given[kxformat::kDeclFieldsMax];
};

struct PackageDeclarations {
  unsigned count[kxformat::kDeclTableCount];
  DeclEntry entries[kDeclEntriesTotal];
};

// Filled while the package data is read; cleared with it on any failure.
extern PackageDeclarations g_declarations;

void ClearPackageDeclarations(PackageDeclarations* declarations);

// True for a key of a declarations table ("registry.3.data").
bool IsPackageDeclarationKey(const char* key, size_t length);

// Keeps one line's value; false when the key is no field of its table, its
// number is out of range or written with a leading zero, the field is
// repeated, or the value is not allowed.
bool StorePackageDeclarationValue(const char* key, size_t keyLength, const char* value, size_t valueLength,
                                  PackageDeclarations* declarations);

// Once every line is read: each table's entries numbered 1..n without gaps,
// every required field given, each registry value's data fitting its type.
bool CompletePackageDeclarations(PackageDeclarations* declarations);

// The entries of a table.
unsigned DeclarationCount(const PackageDeclarations& declarations, kxformat::DeclTableIndex table);
const DeclEntry& DeclarationAt(const PackageDeclarations& declarations, kxformat::DeclTableIndex table,
                               unsigned index);

#endif
