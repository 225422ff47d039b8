// The language table's reader (core/language_table_format.h) over any text.
// The core library decodes the file in the system's code page first; here
// each byte stands for the character of the same number (Latin-1), which
// keeps every line break, '#' and '=' where the file has it. A table that
// reads keeps its texts in single lines, and written out again it reads
// back with the same texts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/language_table_format.h"

namespace {

bool HasLineBreak(std::u16string_view text) { return text.find(u'\n') != std::u16string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string text(data, data + size);
  size_t lineCount = 0;
  for (size_t i = 0; i < size; ++i) lineCount += data[i] == '\n';
  lineCount += size > 0 && data[size - 1] != '\n';

  kxcore::LanguageTableLines lines;
  kxcore::LanguageTableFault fault;
  if (!kxcore::ReadLanguageTableLines(text, &lines, &fault)) {
    if (fault.line == 0 || fault.line > lineCount + 1 || !fault.what[0]) abort();
    return 0;
  }
  if (HasLineBreak(lines.name) || HasLineBreak(lines.idLine)) abort();
  for (const auto& [key, value] : lines.texts) {
    if (key.size() < 2 || key[0] != u'#' || key.find(u'=') != std::u16string_view::npos) abort();
    if (HasLineBreak(key) || HasLineBreak(value)) abort();
  }

  // Written out again (CR LF lines), the table reads back alike; a text's
  // own trailing CR is the one thing a line end cannot keep.
  std::u16string written = u"[KXLang]\r\n";
  written.append(lines.name).append(u"\r\n").append(lines.idLine).append(u"\r\n");
  for (const auto& [key, value] : lines.texts) written.append(key).append(u"=").append(value).append(u"\r\n");
  kxcore::LanguageTableLines again;
  if (!kxcore::ReadLanguageTableLines(written, &again, &fault)) abort();
  if (again.name != lines.name || again.idLine != lines.idLine || again.texts.size() != lines.texts.size()) abort();
  for (size_t i = 0; i < lines.texts.size(); ++i)
    if (again.texts[i] != lines.texts[i]) abort();
  return 0;
}
