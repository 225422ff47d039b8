// Writes one registry value given as a script text.
#ifndef KX_SERVICES_REGISTRY_WRITER_H
#define KX_SERVICES_REGISTRY_WRITER_H

#include <windows.h>
#include <stdint.h>

// Capacity of each expanded text, terminating zero included.
constexpr size_t kRegTextCapacity = 8192;

// Expands keyText, nameText and dataText (script texts; null counts as
// empty), creates the key under root with every missing level, and writes
// the value:
//   REG_SZ, REG_EXPAND_SZ  the text with its terminating zero;
//   REG_DWORD, REG_QWORD   the text read as an unsigned decimal number
//                          (ParseUnsignedDecimal);
//   any other type         nothing; the key stays created and 0 is returned.
// Returns ERROR_SUCCESS or the Windows error code of the failing call. A text
// whose expansion does not fit kRegTextCapacity is refused with
// ERROR_INSUFFICIENT_BUFFER before anything is created, rather than written
// cut short.
LONG RegWriteValue(HKEY root, const wchar_t* keyText, const wchar_t* nameText, const wchar_t* dataText, DWORD type);

// Reads text as wcstoul/wcstoull do in base 10 for an unsigned width whose
// largest value is maxValue (0xFFFFFFFF or 2^64 - 1): leading white space and
// one sign are accepted, reading stops at the first non-digit, no digits give
// 0, a minus negates in the unsigned width, and a magnitude beyond maxValue
// gives maxValue (also with a minus).
uint64_t ParseUnsignedDecimal(const wchar_t* text, uint64_t maxValue);

#endif
