// Flag variables (SILENT, ISADMIN, KXEXTHC, KXDISABDIR, ...) are set exactly
// when they hold the text "1", compared case-sensitively.
#ifndef KX_LAUNCHER_SCRIPT_FLAGS_H
#define KX_LAUNCHER_SCRIPT_FLAGS_H

// Evaluates reference (for example "%SILENT%") into a 4-unit buffer and
// compares it with "1".
bool FlagIsSet(const wchar_t* reference);

#endif
