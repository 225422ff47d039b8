#include "core/text_files.h"

#include "base/handle_guard.h"
#include "core/module_files.h"
#include "core/page_text.h"
#include "core/utf16_text.h"
#include "core/variables.h"

namespace kxcore {
namespace {

// The script's variables as the portable replacement (core/page_text.h)
// asks for them: each value evaluated, then written as RTF text or in the
// ANSI code page.
class ScriptVariables : public PageVariables {
 public:
  explicit ScriptVariables(int flags) : flags_(flags) {}

  bool Append(std::string_view name, std::string* out) override {
    const std::wstring wide(name.begin(), name.end());
    std::wstring value;
    if (!GetVariable(wide, &value)) return false;
    const std::wstring evaluated = Evaluate(L"%" + wide + L"%");
    if (flags_ & kReplaceForRtf)
      AppendRtfText(Utf16View(evaluated), out);
    else
      *out += EncodeText(evaluated, CP_ACP);
    return true;
  }

 private:
  int flags_;
};

}  // namespace

std::string ReplaceVariablesInText(std::string_view text, int flags) {
  ScriptVariables variables(flags);
  return ReplacePageReferences(text, &variables);
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
