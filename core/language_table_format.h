// The language table's lines (core/language_table.h gives the layout) read
// from its text once decoded: portable (UTF-16 as char16_t, no Windows
// header), so that the fuzz targets run the very reader the core library
// runs. Decoding the file's bytes and keeping the texts stay in
// core/language_table.cpp.
#ifndef KX_CORE_LANGUAGE_TABLE_FORMAT_H
#define KX_CORE_LANGUAGE_TABLE_FORMAT_H

#include <stddef.h>

#include <string_view>
#include <utility>
#include <vector>

namespace kxcore {

// What the lines say, as views into the text read.
struct LanguageTableLines {
  std::u16string_view name;      // line 2
  std::u16string_view idLine;    // line 3, the decimal language id as written
  // "#key" and text of every key line in file order; a later line of the
  // same key (compared without regard to case) wins.
  std::vector<std::pair<std::u16string_view, std::u16string_view>> texts;
};

// The line that is wrong and what was expected there ("expected [KXLang]",
// "expected #key=text", "header incomplete").
struct LanguageTableFault {
  size_t line = 0;
  const char16_t* what = u"";
};

// Splits text into CR LF (or LF) lines and reads them. False, with *fault
// set and *lines as it was, when the header is missing or a line after it
// is neither empty nor "#key=text" with at least one unit of key after "#".
bool ReadLanguageTableLines(std::u16string_view text, LanguageTableLines* lines, LanguageTableFault* fault);

}  // namespace kxcore

#endif
