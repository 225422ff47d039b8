#include "services/registry_reader.h"

#include <stdio.h>
#include <string.h>

#include "base/handle_guard.h"
#include "core/kxcore.h"

namespace {

// Expanded key and value names are held in buffers of this many units.
enum { kExpandedChars = 8192 };

void FormatUnsigned(unsigned long long value, wchar_t* out) {
  _snwprintf(out, kRegValueChars, L"%llu", value);
}

}  // namespace

LONG RegReadValue(HKEY root, const wchar_t* keyText, const wchar_t* nameText, wchar_t* out) {
  out[0] = L'\0';
  wchar_t keyName[kExpandedChars];
  wchar_t valueName[kExpandedChars];
  EvalVarBuf(keyText, keyName, sizeof keyName);
  EvalVarBuf(nameText, valueName, sizeof valueName);

  HKEY opened = nullptr;
  LONG error = RegOpenKeyExW(root, keyName, 0, KEY_READ, &opened);
  if (error != ERROR_SUCCESS) return error;
  RegKey key(opened);

  DWORD type = REG_NONE;
  DWORD size = kRegValueChars * sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) != ERROR_SUCCESS) {
    out[0] = L'\0';
  } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
    // A string may be stored without its terminator.
    if (size / sizeof(wchar_t) < kRegValueChars) out[size / sizeof(wchar_t)] = L'\0';
  } else if (type == REG_DWORD) {
    DWORD number = 0;
    memcpy(&number, out, size < sizeof number ? size : sizeof number);
    FormatUnsigned(number, out);
  } else if (type == REG_QWORD && size <= sizeof(ULONGLONG)) {
    ULONGLONG number = 0;
    memcpy(&number, out, size);
    FormatUnsigned(number, out);
  } else {
    out[0] = L'\0';
  }
  out[kRegValueChars - 1] = L'\0';
  return ERROR_SUCCESS;
}

bool RegKeyExists(HKEY root, const wchar_t* subKey) {
  HKEY opened = nullptr;
  LONG error = RegOpenKeyExW(root, subKey, 0, KEY_SET_VALUE, &opened);
  RegKey key(error == ERROR_SUCCESS ? opened : nullptr);
  return error != ERROR_FILE_NOT_FOUND;
}
