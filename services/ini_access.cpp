#include "services/ini_access.h"

#include <stdio.h>
#include <wchar.h>

#include "core/kxcore.h"

namespace {

// Every expanded text and the read value live in buffers of this many units.
enum { kIniTextChars = 8192 };

// Expands text into buffer; false when the result was cut to fit.
bool Expand(const wchar_t* text, wchar_t* buffer) {
  return EvalVarBuf(text, buffer, kIniTextChars * sizeof(wchar_t)) < kIniTextChars;
}

const wchar_t* NullWhenEmpty(const wchar_t* text) { return text[0] ? text : nullptr; }

}  // namespace

bool IniWriteValue(const wchar_t* fileText, const wchar_t* sectionText, const wchar_t* keyText,
                   const wchar_t* valueText) {
  wchar_t file[kIniTextChars];
  wchar_t section[kIniTextChars];
  wchar_t key[kIniTextChars];
  wchar_t value[kIniTextChars];
  // A cut text would write a different file, key or value than was asked.
  if (!Expand(fileText, file) || !Expand(sectionText, section) || !Expand(keyText, key) ||
      !Expand(valueText, value)) {
    return false;
  }
  return WritePrivateProfileStringW(section, NullWhenEmpty(key), NullWhenEmpty(value), file) != FALSE;
}

void IniReadToVar(const wchar_t* fileText, const wchar_t* sectionText, const wchar_t* keyText,
                  const wchar_t* varName) {
  wchar_t section[kIniTextChars];
  wchar_t key[kIniTextChars];
  wchar_t reference[kIniTextChars];
  wchar_t fallback[kIniTextChars];
  wchar_t file[kIniTextChars];
  wchar_t result[kIniTextChars];
  if (!Expand(sectionText, section) || !Expand(keyText, key)) return;
  // The variable's current value is the default, so a missing key keeps it.
  int referenceLength = swprintf(reference, kIniTextChars, L"%%%ls%%", varName);
  if (referenceLength < 0) return;
  bool fallbackWhole = Expand(reference, fallback);
  if (!Expand(fileText, file)) return;

  GetPrivateProfileStringW(NullWhenEmpty(section), NullWhenEmpty(key), NullWhenEmpty(fallback), result,
                           kIniTextChars, file);
  // A value too long for the default buffer comes back cut when the key is
  // missing; the variable then keeps its whole value.
  if (!fallbackWhole && wcscmp(result, fallback) == 0) return;
  SetVar(varName, result);
}
