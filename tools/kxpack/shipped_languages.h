// The language tables kxpack ships (docs/packages.md, "Language tables"):
// parts/kxlng.dat, the English table, and parts/languages/kxlng<id>.dat,
// one per further language, all in the same line format. kxpack reads them
// to know which languages a package may offer, to make the texts it writes
// for a package in each language (the keys beginning with "#pkg"), and to
// put each offered table into the package without those keys, which only
// kxpack reads.
#ifndef KX_TOOLS_KXPACK_SHIPPED_LANGUAGES_H
#define KX_TOOLS_KXPACK_SHIPPED_LANGUAGES_H

#include <functional>
#include <map>
#include <string>
#include <vector>

constexpr unsigned kEnglishLanguageId = 1033;
constexpr char kLanguagesPart[] = "languages";

struct ShippedLanguage {
  std::string name;                  // the table's name line, e.g. "German"
  unsigned id = 0;                   // its Windows language id, e.g. 1031
  std::string runtimeFile;           // "kxlng.dat" for English, else "kxlng<id>.dat"
  std::vector<unsigned char> table;  // the table as a package carries it: kxpack's keys left out
  std::map<std::string, std::string> packageTexts;  // kxpack's keys without '#' ("pkgwindowtitle") -> text
};

// English first, then the others by ascending id: the order of a package
// that names no languages, whose first language is its fallback.
using ShippedLanguages = std::vector<ShippedLanguage>;

// Reads one table from its bytes (UTF-8, CR LF lines, "[KXLang]", name, id,
// then "#key=text" lines). fileName is the part's name; a translated table's
// id must be the one its name carries. False with a message.
bool ParseShippedLanguage(const std::vector<unsigned char>& bytes, const std::string& fileName,
                          ShippedLanguage* language, std::string* error);

// Reads the English table and every table of the languages folder of the
// parts folder. False with a message naming the part at fault.
bool LoadShippedLanguages(const std::string& partsFolder, ShippedLanguages* languages, std::string* error);

// The language of that name, compared without regard to case; null if none.
const ShippedLanguage* FindShippedLanguage(const ShippedLanguages& languages, const std::string& name);

// One of kxpack's texts ("pkgwelcomeheading") in the language; the English
// text where the language lacks the key (the parts' own check keeps every
// key in every table), empty where both lack it.
const std::string& PackageText(const ShippedLanguages& languages, const ShippedLanguage& language,
                               const std::string& key);

// text with each "%NAME%" reference that values names replaced by its value
// as given, and every other stretch of text passed through escape (as it
// is without one).
std::string FillReferences(const std::string& text, const std::map<std::string, std::string>& values,
                           const std::function<std::string(const std::string&)>& escape = nullptr);

#endif
