#include "launcher/literal_text.h"

#include "core/kxcore.h"

bool EscapeScriptText(const wchar_t* value, wchar_t* escaped, size_t capacity) {
  size_t out = 0;
  for (const wchar_t* p = value; *p; ++p) {
    size_t needed = (*p == L'%' || *p == L'#') ? 2 : 1;
    if (out + needed >= capacity) {
      if (capacity) escaped[0] = L'\0';
      return false;
    }
    escaped[out++] = *p;
    if (needed == 2) escaped[out++] = *p;
  }
  escaped[out] = L'\0';
  return true;
}

bool SetVarLiteral(const wchar_t* name, const wchar_t* value) {
  wchar_t escaped[2 * kLiteralValueCapacity + 1];
  if (!EscapeScriptText(value, escaped, sizeof escaped / sizeof escaped[0])) return false;
  SetVar(name, escaped);
  return true;
}
