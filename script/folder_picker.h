// The shell's folder picker as the folder pages use it, and the path tests
// of the folder pages.
#ifndef KX_SCRIPT_FOLDER_PICKER_H
#define KX_SCRIPT_FOLDER_PICKER_H

#include <windows.h>

// Capacity of the picker's result buffer, terminating zero included.
constexpr size_t kPickerPathCapacity = 520;

// Shows the shell folder picker owned by owner, titled title, with
// initialPath (may be null) selected. Returns non-zero and the chosen folder
// in result (kPickerPathCapacity units) when a file-system folder was chosen;
// otherwise 0 and result empty.
int BrowseForFolder(HWND owner, const wchar_t* title, const wchar_t* initialPath, wchar_t* result);

// The picker's callback: once it is initialised, selects the folder whose
// path data points to (when not null). Always 0.
int CALLBACK BrowseInitCallback(HWND picker, UINT message, LPARAM param, LPARAM data);

// The part of path after its last '\'; without one after its last '/';
// without either after its last ':'; the whole path when none occurs. Points
// into path, which is not changed.
const wchar_t* PathLastComponent(const wchar_t* path);

// The part of path below root ("Publisher\Product" of
// "<root>\Publisher\Product"), letter case aside; null when path is root
// itself or does not lie below it. Points into path.
const wchar_t* PathBelowRoot(const wchar_t* path, const wchar_t* root);

// True for a Start-menu folder as the page takes it: a path relative to the
// Start-menu root, '\' or '/' separated, each level a folder name Windows
// accepts (no "..", no device name, no forbidden character).
bool IsStartMenuFolderName(const wchar_t* text);

// True for a path that names the same folder whatever the current directory
// is: a drive and a separator (C:\...), or a UNC path (\\server\...).
bool IsFullPath(const wchar_t* path);

#endif
