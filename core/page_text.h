// What ReplaceVarInFile does to a page's bytes (core/text_files.h): the
// %NAME% references found and replaced, "%%" made "%", and inserted values
// escaped for RTF. Portable (UTF-16 as char16_t, no Windows header), so that
// the fuzz targets run it over any page; the variables, their evaluation,
// the ANSI code page and the files stay in core/text_files.cpp.
#ifndef KX_CORE_PAGE_TEXT_H
#define KX_CORE_PAGE_TEXT_H

#include <string>
#include <string_view>

namespace kxcore {

// The values of the variables a page refers to.
class PageVariables {
 public:
  // Appends the bytes that replace the reference to name (one or more of
  // A-Z, a-z, 0-9 and '_') to *out and returns true; false for a variable
  // that is not set, whose reference then stays as written.
  virtual bool Append(std::string_view name, std::string* out) = 0;

 protected:
  ~PageVariables() = default;
};

// Every %NAME% reference to a set variable replaced through variables and
// "%%" made "%"; all other bytes, references to unset variables included,
// stay as they are.
std::string ReplacePageReferences(std::string_view text, PageVariables* variables);

// Appends text as RTF text: backslash and braces escaped, CR dropped, LF and
// TAB as \line and \tab, every unit beyond ASCII as \uN? with N the unit as
// a signed 16-bit number.
void AppendRtfText(std::u16string_view text, std::string* out);

}  // namespace kxcore

#endif
