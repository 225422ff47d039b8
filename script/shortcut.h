// Shell link files.
#ifndef KX_SCRIPT_SHORTCUT_H
#define KX_SCRIPT_SHORTCUT_H

#include <windows.h>

// Capacity of each evaluated shortcut text, terminating zero included.
constexpr size_t kShortcutTextCapacity = 520;

// Writes the link file linkFile pointing at target. All texts are script
// texts, evaluated before use. Optional properties: arguments (null: not
// set; empty: set empty), description, workingFolder and iconFile (null or
// empty: not set), showCommand (<= 0: not set), iconIndex (< 0: no icon).
// The link file's folder must exist, and COM must be initialised on the
// calling thread. Returns the HRESULT of saving the link, or of the first
// step that failed. A null target or link file gives E_INVALIDARG, and a text
// whose evaluation does not fit kShortcutTextCapacity gives
// HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE); nothing is written then.
HRESULT CreateShortcut(const wchar_t* target, const wchar_t* arguments, const wchar_t* linkFile,
                       const wchar_t* description, int showCommand, const wchar_t* workingFolder,
                       const wchar_t* iconFile, int iconIndex);

// The same with every text taken as it stands, never evaluated: for texts a
// package's author wrote, where '%' and '#' are only characters.
HRESULT SaveShortcut(const wchar_t* target, const wchar_t* arguments, const wchar_t* linkFile,
                     const wchar_t* description, int showCommand, const wchar_t* workingFolder,
                     const wchar_t* iconFile, int iconIndex);

#endif
