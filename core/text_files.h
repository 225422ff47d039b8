// Copies of 8-bit text files with their variable references replaced.
#ifndef KX_CORE_TEXT_FILES_H
#define KX_CORE_TEXT_FILES_H

#include <windows.h>

#include <string>
#include <string_view>

namespace kxcore {

// Flags of ReplaceVarInFile.
enum : int {
  kReplaceForRtf = 1,  // escape inserted values as RTF text
};

// Replaces every %NAME% reference to a set variable by the variable's
// evaluated value and "%%" by "%"; other text, references to unset variables
// included, stays byte for byte. Values are written in the ANSI code page,
// or with kReplaceForRtf as RTF text: backslash and braces escaped, line
// breaks and tabs as \line and \tab, other characters beyond ASCII as \uN?.
std::string ReplaceVariablesInText(std::string_view text, int flags);

// Writes target as source with ReplaceVariablesInText applied. Returns 0 or
// the Windows error code of the read or write that failed; a failed write
// leaves no partial target behind.
DWORD ReplaceVariablesInFile(const std::wstring& source, const std::wstring& target, int flags);

}  // namespace kxcore

#endif
