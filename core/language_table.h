// The language table kxlng.dat: 8-bit ANSI text, CR LF lines, three header
// lines ("[KXLang]", the language's name, its decimal language id), then one
// "#key=text" line per key. Keys compare without regard to case; a text runs
// to the end of its line, trailing blanks included.
#ifndef KX_CORE_LANGUAGE_TABLE_H
#define KX_CORE_LANGUAGE_TABLE_H

#include <map>
#include <string>
#include <string_view>

namespace kxcore {

struct LanguageTable {
  std::wstring name;        // line 2, e.g. "English"
  unsigned languageId = 0;  // line 3, e.g. 1033
  std::map<std::wstring, std::wstring> texts;  // lower-case "#key" -> text
};

// Parses the table from its bytes (ANSI code page). Returns false and names
// the offending line in *error when the header is missing or a line is not
// "#key=text".
bool ParseLanguageTable(std::string_view bytes, LanguageTable* table, std::wstring* error);

// The text of a key ("#Next"), from the table kxlng.dat beside the library,
// loaded at the first lookup. Null when the key is unknown.
const std::wstring* FindLanguageText(std::wstring_view key);

// The loaded table (loading it if needed); empty when there is none.
const LanguageTable& ActiveLanguageTable();

// Replaces the active table (tests).
void SetActiveLanguageTable(LanguageTable table);

}  // namespace kxcore

#endif
