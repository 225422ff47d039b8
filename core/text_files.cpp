#include "core/text_files.h"

#include "base/handle_guard.h"
#include "core/module_files.h"
#include "core/variables.h"

namespace kxcore {
namespace {

bool IsNameByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::string ToRtf(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    switch (c) {
      case L'\\': out += "\\\\"; break;
      case L'{': out += "\\{"; break;
      case L'}': out += "\\}"; break;
      case L'\r': break;
      case L'\n': out += "\\line "; break;
      case L'\t': out += "\\tab "; break;
      default:
        if (c < 0x80) {
          out += static_cast<char>(c);
        } else {
          // RTF takes a signed 16-bit number and one fallback character.
          out += "\\u" + std::to_string(static_cast<int>(static_cast<short>(c))) + "?";
        }
    }
  }
  return out;
}

}  // namespace

std::string ReplaceVariablesInText(std::string_view text, int flags) {
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
    std::wstring value;
    if (end > i + 1 && end < text.size() && text[end] == '%') {
      std::wstring name(text.begin() + static_cast<std::ptrdiff_t>(i + 1), text.begin() + static_cast<std::ptrdiff_t>(end));
      if (GetVariable(name, &value)) {
        std::wstring evaluated = Evaluate(L"%" + name + L"%");
        out += (flags & kReplaceForRtf) ? ToRtf(evaluated) : EncodeText(evaluated, CP_ACP);
        i = end + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

DWORD ReplaceVariablesInFile(const std::wstring& source, const std::wstring& target, int flags) {
  std::string bytes;
  if (!ReadWholeFile(source, &bytes)) return GetLastError() ? GetLastError() : ERROR_READ_FAULT;
  const std::string replaced = ReplaceVariablesInText(bytes, flags);

  // Written beside the target and moved over it, so that a failed write
  // never leaves half a file under the target's name.
  const std::wstring temporary = target + L".kxtmp";
  DWORD error = 0;
  {
    FileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) return GetLastError();
    DWORD written = 0;
    if (!WriteFile(file.get(), replaced.data(), static_cast<DWORD>(replaced.size()), &written, nullptr) ||
        written != replaced.size())
      error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
  }
  if (!error && !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) error = GetLastError();
  if (error) DeleteFileW(temporary.c_str());
  return error;
}

}  // namespace kxcore
