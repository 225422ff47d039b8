#include "package_texts.h"

#include <wchar.h>

#include "kxcore.h"

namespace {

// prefix + escaped literal + suffix. The package values are at most
// kPackageTextCapacity - 1 units, so the text always fits.
void Compose(const wchar_t* prefix, const wchar_t* literal, const wchar_t* suffix,
             wchar_t (&text)[kPackageScriptTextCapacity]) {
  size_t length = wcslen(prefix);
  wcscpy(text, prefix);
  EscapeScriptText(literal, text + length, kPackageScriptTextCapacity - length - wcslen(suffix));
  wcscat(text, suffix);
}

}  // namespace

void SetPackageVar(const wchar_t* name, const wchar_t* literal) {
  wchar_t text[kPackageScriptTextCapacity];
  Compose(L"", literal, L"", text);
  SetVar(name, text);
}

void ProgramFileText(wchar_t (&text)[kPackageScriptTextCapacity]) {
  Compose(L"%DESTPATH%\\", g_package.programFile, L"", text);
}

void ShortcutFileText(wchar_t (&text)[kPackageScriptTextCapacity]) {
  Compose(L"%SHORTCUTPATH%\\", g_package.shortcutName, L".lnk", text);
}
