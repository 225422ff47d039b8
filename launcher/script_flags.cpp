#include "launcher/script_flags.h"

#include <wchar.h>

#include "core/kxcore.h"

bool FlagIsSet(const wchar_t* reference) {
  wchar_t value[4];
  EvalVarBuf(reference, value, sizeof value);
  return wcscmp(value, L"1") == 0;
}
