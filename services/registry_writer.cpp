#include "services/registry_writer.h"

#include <wchar.h>

#include "base/handle_guard.h"
#include "base/run_log.h"
#include "core/kxcore.h"

namespace {

constexpr int kRegTextBytes = static_cast<int>(kRegTextCapacity * sizeof(wchar_t));

// False when the expansion was cut to fit the buffer.
bool Expand(const wchar_t* text, wchar_t* buffer) {
  int length = EvalVarBuf(text ? text : L"", buffer, kRegTextBytes);
  return length >= 0 && static_cast<size_t>(length) < kRegTextCapacity;
}

bool IsCSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

const wchar_t* RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
  if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
  if (root == HKEY_USERS) return L"HKEY_USERS";
  return L"(root)";
}

LONG WriteExpanded(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* data, DWORD type) {
  HKEY opened = nullptr;
  LONG result = RegCreateKeyExW(root, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &opened,
                                nullptr);
  if (result != ERROR_SUCCESS) return result;
  RegKey handle(opened);

  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      DWORD bytes = static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t));
      return RegSetValueExW(handle.get(), name, 0, type, reinterpret_cast<const BYTE*>(data), bytes);
    }
    case REG_DWORD: {
      DWORD number = static_cast<DWORD>(ParseUnsignedDecimal(data, 0xFFFFFFFFull));
      return RegSetValueExW(handle.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    case REG_QWORD: {
      uint64_t number = ParseUnsignedDecimal(data, UINT64_MAX);
      return RegSetValueExW(handle.get(), name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    default:
      return ERROR_SUCCESS;
  }
}

}  // namespace

uint64_t ParseUnsignedDecimal(const wchar_t* text, uint64_t maxValue) {
  const wchar_t* p = text;
  while (IsCSpace(*p)) ++p;
  bool negative = false;
  if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
  uint64_t value = 0;
  bool overflow = false;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    unsigned digit = static_cast<unsigned>(*p - L'0');
    if (value > (maxValue - digit) / 10) overflow = true;
    if (!overflow) value = value * 10 + digit;
  }
  if (overflow) return maxValue;
  // Negation wraps within the width: "-1" is the width's largest value.
  return negative ? (maxValue - value + 1) & maxValue : value;
}

LONG RegWriteValue(HKEY root, const wchar_t* keyText, const wchar_t* nameText, const wchar_t* dataText, DWORD type) {
  wchar_t key[kRegTextCapacity];
  wchar_t name[kRegTextCapacity];
  wchar_t data[kRegTextCapacity];
  if (!Expand(keyText, key) || !Expand(nameText, name) || !Expand(dataText, data)) return ERROR_INSUFFICIENT_BUFFER;

  LONG result = WriteExpanded(root, key, name, data, type);
  if (result == ERROR_SUCCESS)
    LogLine(L"Registry value written: %ls\\%ls \"%ls\" = %ls", RootName(root), key, name, data);
  else
    LogLine(L"Error %ld: the registry value %ls\\%ls \"%ls\" could not be written", static_cast<long>(result),
            RootName(root), key, name);
  return result;
}
