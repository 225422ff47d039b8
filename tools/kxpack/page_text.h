// The wizard's page texts: Rich Text as the core library shows it, made from
// plain text where a package gives a .txt file, and the texts a package gets
// when it gives none.
#ifndef KX_TOOLS_KXPACK_PAGE_TEXT_H
#define KX_TOOLS_KXPACK_PAGE_TEXT_H

#include <string>
#include <vector>

#include "tools/kxpack/shipped_languages.h"

// True when the bytes begin as a Rich Text document ("{\rtf").
bool LooksLikeRtf(const std::vector<unsigned char>& bytes);

// Turns UTF-8 text (a byte order mark is skipped; CR LF, LF or CR end lines)
// into an RTF document in the pages' font: '\' '{' '}' escaped, tabs as \tab,
// every line a paragraph, characters beyond ASCII as \uN?. '%' stays as it
// is, so a finish page may name %DESTPATH% and the other variables. False
// with the line of the first invalid UTF-8 sequence. A page of a language
// written from right to left (rightToLeft) has right-to-left paragraphs.
bool PlainTextToRtf(const std::vector<unsigned char>& text, std::vector<unsigned char>* rtf, std::string* error,
                    bool rightToLeft = false);

// Whether the language is written from right to left (Arabic, Hebrew,
// Persian, Urdu and the like): its pages' paragraphs run right to left.
bool IsRightToLeftLanguage(unsigned languageId);

// The welcome and finish pages of a package that gives none, in a language:
// the texts are its "#pkgwelcome..." and "#pkgfinish..." keys with the
// product's name (and version) put in.
std::vector<unsigned char> DefaultWelcomePage(const ShippedLanguages& languages, const ShippedLanguage& language,
                                              const std::string& name, const std::string& version);
std::vector<unsigned char> DefaultFinishPage(const ShippedLanguages& languages, const ShippedLanguage& language,
                                             const std::string& name);

#endif
