// Reading the declarations tables out of the parsed description; apart
// from tools/kxpack/declarations.h so that only the description's reader
// sees toml++.
#ifndef KX_TOOLS_KXPACK_DECLARATION_READER_H
#define KX_TOOLS_KXPACK_DECLARATION_READER_H

#include <string>
#include <vector>

#include "tools/kxpack/declarations.h"
#include "tools/kxpack/toml_parser.h"

// Reads one top-level declarations table (an array of tables) into
// declarations; problems as "FILE:LINE: KEY: what is wrong".
void CollectDeclarations(const std::string& file, const std::string& table, const toml::node& node, int line,
                         Declarations* declarations, std::vector<std::string>* errors);

#endif
