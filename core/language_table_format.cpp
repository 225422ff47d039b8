#include "core/language_table_format.h"

namespace kxcore {

bool ReadLanguageTableLines(std::u16string_view text, LanguageTableLines* lines, LanguageTableFault* fault) {
  size_t lineNumber = 0;
  size_t start = 0;
  LanguageTableLines parsed;
  while (start < text.size()) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string_view::npos) end = text.size();
    std::u16string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    start = end + 1;
    ++lineNumber;

    if (lineNumber == 1) {
      if (line != u"[KXLang]") {
        *fault = {lineNumber, u"expected [KXLang]"};
        return false;
      }
    } else if (lineNumber == 2) {
      parsed.name = line;
    } else if (lineNumber == 3) {
      parsed.idLine = line;
    } else if (!line.empty() && line[0] != u';') {
      // A line beginning with ';' is a comment of the table's editors.
      size_t equals = line.find(u'=');
      if (line[0] != u'#' || equals == std::u16string_view::npos || equals < 2) {
        *fault = {lineNumber, u"expected #key=text"};
        return false;
      }
      parsed.texts.emplace_back(line.substr(0, equals), line.substr(equals + 1));
    }
  }
  if (lineNumber < 3) {
    *fault = {lineNumber + 1, u"header incomplete"};
    return false;
  }
  *lines = std::move(parsed);
  return true;
}

}  // namespace kxcore
