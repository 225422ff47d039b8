#include "tools/kxpack/page_text.h"

#include <cstdint>
#include <cstring>

#include "tools/kxpack/utf8.h"

namespace {

// The look of the shipped pages: Segoe UI 9 pt, dark grey text, a blue
// heading.
// The character set a page's font is asked for in, so that a system without
// the font (or without font binding) picks one that has the language's
// letters: Windows' charset numbers by base language.
int FontCharset(unsigned languageId) {
  switch (languageId & 0x3FF) {
    case 0x01: return 178;  // Arabic
    case 0x0D: return 177;  // Hebrew
    case 0x08: return 161;  // Greek
    case 0x1F: return 162;  // Turkish
    case 0x19: case 0x22: case 0x23: case 0x02: return 204;  // Russian, Ukrainian, Belarusian, Bulgarian
    case 0x15: case 0x05: case 0x0E: case 0x1B: case 0x1A: case 0x24: case 0x18: return 238;  // Central European
    case 0x11: return 128;  // Japanese
    case 0x12: return 129;  // Korean
    case 0x04: return languageId == 2052 || languageId == 4100 ? 134 : 136;  // Chinese, Simplified or Traditional
    case 0x1E: return 222;  // Thai
    default: return 0;
  }
}

// The head of a page in a language: \deflang names it, the text itself is
// escaped to \uN? whatever the code page says.
std::string RtfHead(unsigned languageId) {
  return "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang" + std::to_string(languageId) +
         "{\\fonttbl{\\f0\\fswiss\\fcharset" + std::to_string(FontCharset(languageId)) + " Segoe UI;}}\r\n"
         "{\\colortbl ;\\red28\\green52\\blue94;\\red58\\green58\\blue58;\\red110\\green110\\blue110;}\r\n"
         "\\viewkind4\\uc1\r\n";
}

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

// A paragraph's start: right to left in a language written so.
std::string Paragraph(bool rightToLeft) { return rightToLeft ? "\\pard\\rtlpar" : "\\pard"; }

std::vector<unsigned char> Page(unsigned languageId, const std::string& heading, const std::string& body) {
  std::vector<unsigned char> out;
  Append(&out, RtfHead(languageId));
  std::string text = "\\pard\\sa220\\cf1\\b\\fs28 " + heading + "\\b0\\par\r\n" + body;
  if (IsRightToLeftLanguage(languageId))
    for (size_t at = 0; (at = text.find("\\pard", at)) != std::string::npos; at += 5) text.insert(at + 5, "\\rtlpar");
  Append(&out, text);
  Append(&out, "}\r\n");
  return out;
}

}  // namespace

bool LooksLikeRtf(const std::vector<unsigned char>& bytes) {
  return bytes.size() >= 5 && std::memcmp(bytes.data(), "{\\rtf", 5) == 0;
}

bool IsRightToLeftLanguage(unsigned languageId) {
  switch (languageId & 0x3FF) {
    case 0x01: case 0x0D: case 0x20: case 0x29: case 0x3D: case 0x5A: case 0x63: case 0x65: case 0x80: case 0x8C:
      return true;  // Arabic, Hebrew, Urdu, Persian, Yiddish, Syriac, Pashto, Divehi, Uyghur, Dari
    default:
      return false;
  }
}

bool PlainTextToRtf(const std::vector<unsigned char>& text, std::vector<unsigned char>* rtf, std::string* error,
                    bool rightToLeft) {
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
  Append(rtf, RtfHead(kEnglishLanguageId));
  Append(rtf, Paragraph(rightToLeft) + "\\sa60\\cf2\\fs18 ");
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

std::vector<unsigned char> DefaultWelcomePage(const ShippedLanguages& languages, const ShippedLanguage& language,
                                              const std::string& name, const std::string& version) {
  const auto text = [&](const char* key) { return PackageText(languages, language, key); };
  const auto escape = [](const std::string& plain) { return EscapedLiteral(plain, false); };
  const std::string n = EscapedLiteral(name, false);
  const std::string nameVersion = "\\b " + n + " " + EscapedLiteral(version, false) + "\\b0 ";
  return Page(language.id, FillReferences(text("pkgwelcomeheading"), {{"NAME", n}}, escape),
              "\\pard\\sa140\\cf2\\fs18 " +
                  FillReferences(text("pkgwelcomeinstalls"), {{"NAME", n}, {"NAMEVERSION", nameVersion}}, escape) +
                  "\\par\r\n"
                  "\\pard\\sa0\\cf2\\fs18 " + escape(text("pkgwelcomenext")) + "\\par\r\n");
}

std::vector<unsigned char> DefaultFinishPage(const ShippedLanguages& languages, const ShippedLanguage& language,
                                             const std::string& name) {
  const auto text = [&](const char* key) { return PackageText(languages, language, key); };
  // The finish page goes through the library's variable replacement: a '%'
  // of the texts must not start a reference there.
  const auto escape = [](const std::string& plain) { return EscapedLiteral(plain, true); };
  const std::string n = EscapedLiteral(name, true);
  return Page(language.id, FillReferences(text("pkgfinishheading"), {{"NAME", n}}, escape),
              "\\pard\\sa140\\cf2\\fs18 " + FillReferences(text("pkgfinishinstalled"), {{"NAME", n}}, escape) +
                  "\\par\r\n"
                  "\\pard\\sa140\\cf2\\fs18 \\cf3 " + escape(text("pkgfinishfolder")) +
                  "\\line\\cf2 %DESTPATH%\\line\\cf3 " + escape(text("pkgfinishstartmenu")) +
                  "\\line\\cf2 %SHORTCUTPATH%\\par\r\n"
                  "\\pard\\sa0\\cf2\\fs18 " + escape(text("pkgfinishclose")) + "\\par\r\n");
}
