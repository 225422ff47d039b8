// Reading registry values as text, and testing keys.
//
// Values come in the text form the registry writer takes: REG_SZ and
// REG_EXPAND_SZ as the string itself (unexpanded), REG_DWORD and REG_QWORD
// as unsigned decimal numbers. No other type is read.
#ifndef KX_SERVICES_REGISTRY_READER_H
#define KX_SERVICES_REGISTRY_READER_H

#include <windows.h>

// Capacity of RegReadValue's result buffer in UTF-16 units (8192 bytes).
enum { kRegValueChars = 4096 };

// Reads value nameText of key keyText under root (a predefined key such as
// HKEY_CURRENT_USER). keyText and nameText are script texts, expanded first.
// out (kRegValueChars units) always ends terminated: the value as text, cut
// at 4095 units, or empty when the value is missing, larger than the buffer
// or of another type. Returns 0, or the error of opening the key (out is then
// empty): ERROR_FILE_NOT_FOUND (2) for a missing key.
LONG RegReadValue(HKEY root, const wchar_t* keyText, const wchar_t* nameText, wchar_t* out);

// Whether subKey (not expanded) exists under root. A key that exists but may
// not be written to counts as existing: only ERROR_FILE_NOT_FOUND says no.
bool RegKeyExists(HKEY root, const wchar_t* subKey);

#endif
