#include "tools/kxpack/page_text.h"

#include <cstdint>
#include <cstring>

#include "tools/kxpack/utf8.h"

namespace {

// The look of the shipped pages: Segoe UI 9 pt, dark grey text, a blue
// heading.
constexpr char kRtfHead[] =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fswiss\\fcharset0 Segoe UI;}}\r\n"
    "{\\colortbl ;\\red28\\green52\\blue94;\\red58\\green58\\blue58;\\red110\\green110\\blue110;}\r\n"
    "\\viewkind4\\uc1\r\n";

void Append(std::vector<unsigned char>* out, const std::string& text) { out->insert(out->end(), text.begin(), text.end()); }

// One code point as RTF text. Beyond the BMP: a surrogate pair, each half a
// \uN? of its own, N as a signed 16-bit number.
void AppendEscaped(std::vector<unsigned char>* out, uint32_t c, bool keepPercent) {
  if (c == '\\' || c == '{' || c == '}') {
    out->push_back('\\');
    out->push_back(static_cast<unsigned char>(c));
  } else if (c == '\t') {
    Append(out, "\\tab ");
  } else if (c == '%' && !keepPercent) {
    Append(out, "%%");
  } else if (c >= 0x20 && c < 0x7F) {
    out->push_back(static_cast<unsigned char>(c));
  } else if (c >= 0x80) {
    uint16_t units[2];
    int count = 1;
    if (c > 0xFFFF) {
      units[0] = static_cast<uint16_t>(0xD800 + ((c - 0x10000) >> 10));
      units[1] = static_cast<uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      count = 2;
    } else {
      units[0] = static_cast<uint16_t>(c);
    }
    for (int i = 0; i < count; ++i) Append(out, "\\u" + std::to_string(static_cast<int16_t>(units[i])) + "?");
  }
  // Other control characters have no place in a page and are left out.
}

// A literal text (a product name) as RTF text. The finish page goes through
// the core library's variable replacement, so there its '%' must not start a
// reference (replaced: false).
std::string EscapedLiteral(const std::string& text, bool replaced) {
  std::vector<unsigned char> out;
  std::u32string points;
  size_t bad = 0;
  if (!DecodeUtf8(text, &points, &bad)) return text;
  for (char32_t c : points) AppendEscaped(&out, c, !replaced);
  return std::string(out.begin(), out.end());
}

std::vector<unsigned char> Page(const std::string& heading, const std::string& body) {
  std::vector<unsigned char> out;
  Append(&out, kRtfHead);
  Append(&out, "\\pard\\sa220\\cf1\\b\\fs28 " + heading + "\\b0\\par\r\n");
  Append(&out, body);
  Append(&out, "}\r\n");
  return out;
}

}  // namespace

bool LooksLikeRtf(const std::vector<unsigned char>& bytes) {
  return bytes.size() >= 5 && std::memcmp(bytes.data(), "{\\rtf", 5) == 0;
}

bool PlainTextToRtf(const std::vector<unsigned char>& text, std::vector<unsigned char>* rtf, std::string* error) {
  std::string input(text.begin(), text.end());
  if (input.compare(0, 3, "\xEF\xBB\xBF") == 0) input.erase(0, 3);
  std::u32string points;
  size_t badOffset = 0;
  if (!DecodeUtf8(input, &points, &badOffset)) {
    size_t line = 1;
    for (size_t i = 0; i < badOffset; ++i)
      if (input[i] == '\n') ++line;
    *error = "line " + std::to_string(line) + " is not UTF-8 text";
    return false;
  }
  rtf->clear();
  Append(rtf, kRtfHead);
  Append(rtf, "\\pard\\sa60\\cf2\\fs18 ");
  for (size_t i = 0; i < points.size(); ++i) {
    char32_t c = points[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < points.size() && points[i + 1] == '\n') ++i;
      Append(rtf, "\\par\r\n");
      continue;
    }
    AppendEscaped(rtf, c, true);
  }
  Append(rtf, "\\par\r\n}\r\n");
  return true;
}

std::vector<unsigned char> DefaultWelcomePage(const std::string& name, const std::string& version) {
  const std::string n = EscapedLiteral(name, false);
  return Page("Welcome to the " + n + " Setup Wizard",
              "\\pard\\sa140\\cf2\\fs18 This wizard installs \\b " + n + " " + EscapedLiteral(version, false) +
                  "\\b0  on your computer.\\par\r\n"
                  "\\pard\\sa0\\cf2\\fs18 Click Next to continue, or Cancel to leave Setup.\\par\r\n");
}

std::vector<unsigned char> DefaultFinishPage(const std::string& name) {
  const std::string n = EscapedLiteral(name, true);
  return Page("Completing the " + n + " Setup Wizard",
              "\\pard\\sa140\\cf2\\fs18 " + n + " has been installed on your computer.\\par\r\n"
              "\\pard\\sa140\\cf2\\fs18 \\cf3 Installation folder:\\line\\cf2 %DESTPATH%\\line"
              "\\cf3 Start menu folder:\\line\\cf2 %SHORTCUTPATH%\\par\r\n"
              "\\pard\\sa0\\cf2\\fs18 Click Close to leave the wizard.\\par\r\n");
}
