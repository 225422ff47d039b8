// The package's declarations beyond its files (docs/packaging.md): the
// arrays of tables [[association]], [[path]], [[environment]], [[registry]]
// and [[run]] of the description, checked as strictly as its other keys and
// written into kxpackage.dat as base/declarations_format.h lays down.
#ifndef KX_TOOLS_KXPACK_DECLARATIONS_H
#define KX_TOOLS_KXPACK_DECLARATIONS_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/declarations_format.h"

// One declaration: its fields as they go into the package data, with the
// line of each (the entry's own line for the defaults).
struct DeclaredEntry {
  int line = 1;
  std::map<std::string, std::string> fields;
  std::map<std::string, int> lines;
};

struct Declarations {
  std::vector<DeclaredEntry> tables[kxformat::kDeclTableCount];
  bool Empty() const;
};

// True for the name of a declarations table.
bool IsDeclarationTable(const std::string& name);

// Fills in what depends on the product (the default ProgID is made of its
// name) and checks what concerns several entries (an extension or a
// variable declared twice).
void CompleteDeclarations(const std::string& file, const std::string& productName, Declarations* declarations,
                          std::vector<std::string>* errors);

// Checks that the programs, icons and folders the declarations name are in
// the payload. isInPayload(path with '/', folder) tells.
void CheckDeclaredPayload(const std::string& file, const Declarations& declarations,
                          const std::function<bool(const std::string&, bool)>& isInPayload,
                          std::vector<std::string>* errors);

// The package data lines of the declarations, each ended by LF; "" for none.
std::string DeclarationDataText(const Declarations& declarations);

// Takes the declarations' lines out of found, judged as the programs judge
// them; false with what is wrong.
bool TakeDeclarationLines(std::map<std::string, std::string>* found, std::string* error);

// The arguments as one command line tail, each quoted as Windows'
// CommandLineToArgvW and the C runtime split it back.
std::string QuoteArguments(const std::vector<std::string>& arguments);

// A package for the current user only runs without administrator rights and
// may name nothing machine-wide: a [[registry]] key under HKLM is refused
// (HKA follows the scope, HKCU is the user's own).
void CheckDeclarationsForScope(const std::string& file, bool currentUser, const Declarations& declarations,
                               std::vector<std::string>* errors);

#endif
