// The language tables: kxlng.dat, English, in 8-bit ANSI text, and
// kxlng<id>.dat, one per further language, in UTF-8. CR LF lines, three
// header lines ("[KXLang]", the language's name, its decimal language id),
// then one "#key=text" line per key. Keys compare without regard to case; a
// text runs to the end of its line, trailing blanks included.
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

// The same for a table in UTF-8 (kxlng<id>.dat); bytes that are not UTF-8
// are refused like a bad line.
bool ParseTranslatedLanguageTable(std::string_view bytes, LanguageTable* table, std::wstring* error);

// Makes the language of that id the active table: kxlng.dat, and for any
// language but English kxlng<id>.dat beside the library laid over it, so
// that a key the translation lacks keeps its English text. False, with the
// active table as it was, when a table is missing, damaged or of another
// id. The table is replaced while no other thread reads it: before the
// wizard's first window.
bool ActivateLanguageTable(unsigned languageId);

// The same with the tables of another folder (ending in a backslash; tests).
bool ActivateLanguageTableFrom(const std::wstring& folder, unsigned languageId);

// The text of a key ("#Next"), from the table kxlng.dat beside the library,
// loaded at the first lookup. Null when the key is unknown.
const std::wstring* FindLanguageText(std::wstring_view key);

// The loaded table (loading it if needed); empty when there is none.
const LanguageTable& ActiveLanguageTable();

// Replaces the active table (tests).
void SetActiveLanguageTable(LanguageTable table);

}  // namespace kxcore

#endif
