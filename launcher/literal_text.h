// Script variables that hold a path or a name exactly as it stands.
#ifndef KX_LAUNCHER_LITERAL_TEXT_H
#define KX_LAUNCHER_LITERAL_TEXT_H

#include <stddef.h>

// Longest value SetVarLiteral takes, in UTF-16 units: the launcher's folder
// buffer, the longest path any of our callers holds.
constexpr size_t kLiteralValueCapacity = 784;

// Writes value with every '%' and '#' doubled, so that the core library
// reads it back as the same text instead of a variable reference or a
// language key. Returns false, with escaped set to "", when the result does
// not fit in capacity units (terminating zero included).
bool EscapeScriptText(const wchar_t* value, wchar_t* escaped, size_t capacity);

// SetVar of value taken literally. A value longer than kLiteralValueCapacity
// units is not stored (false): a cut path would name another file.
bool SetVarLiteral(const wchar_t* name, const wchar_t* value);

#endif
