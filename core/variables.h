// Script variables and the evaluation of script texts.
//
// A script text may hold variable references %NAME% and language keys #key.
// Evaluation replaces a reference to a set variable by the evaluation of its
// value, a known key by the evaluation of its language text, and "%%" by "%".
// Everything else stays as written: a reference to a variable that was never
// set, a '#' that names no key, a lone '%'.
#ifndef KX_CORE_VARIABLES_H
#define KX_CORE_VARIABLES_H

#include <string>
#include <string_view>

namespace kxcore {

// Sets a variable. Its %NAME% references are expanded now, one level deep:
// a set variable's stored value is inserted as it stands; "%%", keys and
// references to unset variables are kept for the evaluation. Does nothing
// while the variable is pinned.
void SetVariable(std::wstring_view name, std::wstring_view value);

// Sets a variable and keeps it at that value for the rest of the run:
// later SetVariable calls for it are ignored (a /S switch keeps SILENT "1").
void PinVariable(std::wstring_view name, std::wstring_view value);

// The stored value; false when the variable was never set.
bool GetVariable(std::wstring_view name, std::wstring* value);

// Evaluates a script text.
std::wstring Evaluate(std::wstring_view text);

// Forgets every variable (tests).
void ClearVariables();

}  // namespace kxcore

#endif
