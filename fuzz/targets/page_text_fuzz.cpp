// A page's text on both sides. In the core library, what ReplaceVarInFile
// does to a page's bytes (core/page_text.h): the page with a few variables
// set, their values inserted as RTF text and as they are, and the bytes read
// as UTF-16 and escaped as RTF text. Escaped text is plain ASCII that changes
// no group of the page and reads back as the text (CR aside); a page without
// references to set variables only loses the second '%' of each "%%". In
// kxpack, a package's plain-text page made Rich Text
// (tools/kxpack/page_text.h): made exactly when the bytes are UTF-8 as the
// core library reads UTF-8, plain ASCII with balanced groups, and its body
// reads back as the text, lines as paragraphs and control characters left out.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/page_text.h"
#include "core/uninstall_log_format.h"
#include "tools/kxpack/page_text.h"

namespace {

struct Variable {
  std::string_view name;
  std::u16string_view value;
};

const Variable kVariables[] = {
    {"DESTPATH", u"C:\\Program Files\\Quill{mark}"},
    {"PRODUCT", u"Caf\u00e9 \u2014 \u4e2d\U0001F600 \xFFFF"},
    {"LINES", u"one\r\ntwo\tthree"},
    {"EMPTY", u""},
    {"INNER", u"%DESTPATH%%%"},
};

char Folded(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Folded(a[i]) != Folded(b[i])) return false;
  return true;
}

class Values : public kxcore::PageVariables {
 public:
  explicit Values(bool rtf) : rtf_(rtf) {}
  bool Append(std::string_view name, std::string* out) override {
    if (name.empty()) abort();
    for (char c : name)
      if (!(c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) abort();
    for (const Variable& variable : kVariables) {
      if (!SameName(name, variable.name)) continue;
      if (rtf_) {
        kxcore::AppendRtfText(variable.value, out);
      } else {
        for (char16_t c : variable.value) *out += static_cast<char>(c < 0x80 ? c : '?');
      }
      return true;
    }
    return false;
  }

 private:
  bool rtf_;
};

class Unset : public kxcore::PageVariables {
 public:
  bool Append(std::string_view, std::string*) override { return false; }
};

// Reads RTF text as AppendRtfText writes it back into UTF-16; false when it
// holds anything else (a bare brace, another control word, a byte beyond ASCII).
bool ReadRtfText(std::string_view rtf, std::u16string* text) {
  for (size_t i = 0; i < rtf.size();) {
    const unsigned char c = static_cast<unsigned char>(rtf[i]);
    if (c >= 0x80 || c == '{' || c == '}' || c == '\r') return false;
    if (c != '\\') {
      *text += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    std::string_view rest = rtf.substr(i + 1);
    if (!rest.empty() && (rest[0] == '\\' || rest[0] == '{' || rest[0] == '}')) {
      *text += static_cast<char16_t>(rest[0]);
      i += 2;
    } else if (rest.substr(0, 5) == "line ") {
      *text += u'\n';
      i += 6;
    } else if (rest.substr(0, 4) == "tab ") {
      *text += u'\t';
      i += 5;
    } else if (rest.substr(0, 1) == "u") {
      size_t k = 1;
      bool negative = k < rest.size() && rest[k] == '-';
      k += negative;
      int value = 0;
      size_t digits = 0;
      for (; k < rest.size() && rest[k] >= '0' && rest[k] <= '9' && digits < 6; ++k, ++digits)
        value = value * 10 + (rest[k] - '0');
      if (digits == 0 || k >= rest.size() || rest[k] != '?') return false;
      value = negative ? -value : value;
      if (value < -32768 || value > 32767) return false;
      const char16_t unit = static_cast<char16_t>(static_cast<uint16_t>(static_cast<int16_t>(value)));
      if (unit < 0x80) return false;  // ASCII is never written this way
      *text += unit;
      i += 1 + k + 1;
    } else {
      return false;
    }
  }
  return true;
}

// The text a plain-text page shows: line ends as '\n', the tab kept, other
// control characters gone, as UTF-16.
std::u16string ShownText(const std::u16string& text) {
  std::u16string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      shown += u'\n';
    } else if (c == u'\t' || (c >= 0x20 && c != 0x7F)) {
      shown += c;
    }
  }
  return shown;
}

// Reads the body of a page kxpack made back into UTF-16; false for anything
// but escaped characters, \tab, \uN? and paragraph ends.
bool ReadPageBody(std::string_view rtf, std::u16string* text) {
  for (size_t i = 0; i < rtf.size();) {
    const unsigned char c = static_cast<unsigned char>(rtf[i]);
    if (c >= 0x80 || c < 0x20 || c == '{' || c == '}') return false;
    if (c != '\\') {
      *text += static_cast<char16_t>(c);
      ++i;
      continue;
    }
    const std::string_view rest = rtf.substr(i + 1);
    if (!rest.empty() && (rest[0] == '\\' || rest[0] == '{' || rest[0] == '}')) {
      *text += static_cast<char16_t>(rest[0]);
      i += 2;
    } else if (rest.substr(0, 5) == "par\r\n") {
      *text += u'\n';
      i += 6;
    } else if (rest.substr(0, 4) == "tab ") {
      *text += u'\t';
      i += 5;
    } else if (rest.substr(0, 1) == "u") {
      size_t k = 1;
      const bool negative = k < rest.size() && rest[k] == '-';
      k += negative;
      int value = 0;
      size_t digits = 0;
      for (; k < rest.size() && rest[k] >= '0' && rest[k] <= '9' && digits < 6; ++k, ++digits)
        value = value * 10 + (rest[k] - '0');
      if (digits == 0 || k >= rest.size() || rest[k] != '?') return false;
      value = negative ? -value : value;
      if (value < -32768 || value > 32767) return false;
      const char16_t unit = static_cast<char16_t>(static_cast<uint16_t>(static_cast<int16_t>(value)));
      if (unit < 0x80) return false;
      *text += unit;
      i += 1 + k + 1;
    } else {
      return false;
    }
  }
  return true;
}

void CheckPlainTextPage(const uint8_t* data, size_t size) {
  const std::vector<unsigned char> bytes(data, data + size);
  std::vector<unsigned char> rtf;
  std::string error;
  const bool made = PlainTextToRtf(bytes, &rtf, &error);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::u16string units;
  if (made != kxcore::DecodeUtf8(text, &units)) abort();
  if (!made) {
    if (error.compare(0, 5, "line ") != 0) abort();
    return;
  }
  if (!LooksLikeRtf(rtf)) abort();
  const std::string page(rtf.begin(), rtf.end());
  int depth = 0;
  for (size_t i = 0; i < page.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(page[i]);
    if (c >= 0x80) abort();
    if (c == '\\') {
      ++i;  // an escaped character or the first letter of a control word
    } else if (c == '{') {
      ++depth;
    } else if (c == '}') {
      if (--depth < 0) abort();
      if (depth == 0 && page.compare(i + 1, std::string::npos, "\r\n") != 0) abort();  // the document ends here
    }
  }
  if (depth != 0) abort();
  const std::string_view bodyStart = "\\pard\\sa60\\cf2\\fs18 ", bodyEnd = "}\r\n";
  const size_t start = page.find(bodyStart);
  if (start == std::string::npos || page.size() < start + bodyStart.size() + bodyEnd.size()) abort();
  std::u16string back;
  if (!ReadPageBody(std::string_view(page).substr(start + bodyStart.size(),
                                                  page.size() - start - bodyStart.size() - bodyEnd.size()),
                    &back))
    abort();
  // Every page ends with one paragraph more than it has line ends.
  if (back != ShownText(units) + u'\n') abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view page(reinterpret_cast<const char*>(data), size);

  Values rtf(true), plain(false);
  kxcore::ReplacePageReferences(page, &rtf);
  kxcore::ReplacePageReferences(page, &plain);

  // Nothing set: only "%%" changes.
  Unset unset;
  std::string expected;
  for (size_t i = 0; i < size; ++i) {
    expected += page[i];
    if (page[i] == '%' && i + 1 < size && page[i + 1] == '%') ++i;
  }
  if (kxcore::ReplacePageReferences(page, &unset) != expected) abort();

  // The bytes as UTF-16 text, escaped, read back.
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  std::string escaped;
  kxcore::AppendRtfText(text, &escaped);
  std::u16string back;
  if (!ReadRtfText(escaped, &back)) abort();
  std::u16string withoutCr;
  for (char16_t c : text)
    if (c != u'\r') withoutCr += c;
  if (back != withoutCr) abort();

  CheckPlainTextPage(data, size);
  return 0;
}
