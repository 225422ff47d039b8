#include "script/package_texts.h"

#include <wchar.h>

namespace {

// prefix + escaped value + suffix. The package values are at most
// kPackageTextCapacity - 1 units, so the text always fits.
void Compose(const wchar_t* prefix, const wchar_t* value, const wchar_t* suffix,
             wchar_t (&text)[kPackageScriptTextCapacity]) {
  size_t length = wcslen(prefix);
  wcscpy(text, prefix);
  EscapeScriptText(value, text + length, kPackageScriptTextCapacity - length - wcslen(suffix));
  wcscat(text, suffix);
}

}  // namespace

void ProgramFileText(wchar_t (&text)[kPackageScriptTextCapacity]) {
  Compose(L"%DESTPATH%\\", g_package.programFile, L"", text);
}

void ShortcutFileText(wchar_t (&text)[kPackageScriptTextCapacity]) {
  Compose(L"%SHORTCUTPATH%\\", g_package.shortcutName, L".lnk", text);
}
