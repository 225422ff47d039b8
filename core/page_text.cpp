#include "core/page_text.h"

namespace kxcore {
namespace {

bool IsNameByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::string ReplacePageReferences(std::string_view text, PageVariables* variables) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    size_t end = i + 1;
    while (end < text.size() && IsNameByte(text[end])) ++end;
    if (end > i + 1 && end < text.size() && text[end] == '%' &&
        variables->Append(text.substr(i + 1, end - i - 1), &out)) {
      i = end + 1;
      continue;
    }
    out += text[i++];
  }
  return out;
}

void AppendRtfText(std::u16string_view text, std::string* out) {
  for (char16_t c : text) {
    switch (c) {
      case u'\\': *out += "\\\\"; break;
      case u'{': *out += "\\{"; break;
      case u'}': *out += "\\}"; break;
      case u'\r': break;
      case u'\n': *out += "\\line "; break;
      case u'\t': *out += "\\tab "; break;
      default:
        if (c < 0x80) {
          *out += static_cast<char>(c);
        } else {
          // RTF takes a signed 16-bit number and one fallback character.
          int value = static_cast<int>(static_cast<short>(c));
          *out += "\\u";
          if (value < 0) *out += '-';
          unsigned rest = static_cast<unsigned>(value < 0 ? -value : value);
          char digits[8];
          size_t start = sizeof digits;
          do {
            digits[--start] = static_cast<char>('0' + rest % 10);
            rest /= 10;
          } while (rest != 0);
          out->append(digits + start, sizeof digits - start);
          *out += '?';
        }
    }
  }
}

}  // namespace kxcore
