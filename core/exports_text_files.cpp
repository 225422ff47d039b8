// ReplaceVarInFile: a copy of a text file with its variable references
// replaced (the final page's RTF with the chosen folders, for instance).
#include "core/kxcore.h"
#include "core/text_files.h"
#include "core/variables.h"

extern "C" {

int ReplaceVarInFile(const wchar_t* source, const wchar_t* target, int flags) {
  if (!source || !target) return ERROR_INVALID_PARAMETER;
  try {
    // The file names are script texts themselves ("%KXSFXPATH%\kxfin...").
    return static_cast<int>(
        kxcore::ReplaceVariablesInFile(kxcore::Evaluate(source), kxcore::Evaluate(target), flags));
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // extern "C"
