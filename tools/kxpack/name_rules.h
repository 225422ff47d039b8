// What Windows accepts as names and folders of an installation, checked
// before a package is built rather than when it is installed.
//
// The rules themselves are base/name_rules.h, which the programs apply to the
// package data at start-up; here they take kxpack's UTF-8 and give its
// messages. Every function is pure: UTF-8 text in, a problem text (or a key)
// out, with no file system or locale behind it.
#ifndef KX_TOOLS_KXPACK_NAME_RULES_H
#define KX_TOOLS_KXPACK_NAME_RULES_H

#include <cstddef>
#include <string>
#include <vector>

#include "base/name_rules.h"

using kxnames::kMaxEntryPathUnits;

// A file or folder name (one path component): valid UTF-8, not empty, none
// of < > : " / \ | ? *, no control character (C0, DEL or C1), no trailing
// blank or dot, not a device name (CON, NUL, CONIN$, COM1, ... with or
// without an extension). Returns what is wrong, or "".
std::string FileNameProblem(const std::string& name);

// A path relative to the installation folder, '/' or '\' separated, each
// component a file name of at most kxnames::kMaxNameUnits, none "." or "..",
// at most kMaxEntryPathUnits long.
// Gives the components.
std::string RelativePathProblem(const std::string& path, std::vector<std::string>* components);

// A folder as a script text: an absolute folder ("C:\Tools") or one below a
// variable the core library provides (%PROGFILESDIR%\Tools,
// %COMPROGMENUDIR%\Tools); the rest file names.
std::string FolderTextProblem(const std::string& text);

// The name with its letters in upper case as Windows' file systems compare
// names: two names with the same key are one file on Windows. Covers the
// Latin, Greek, Cyrillic and Armenian letters and the fullwidth Latin
// forms; other characters stay as they are. name must be valid UTF-8.
std::string NameCaseKey(const std::string& name);

#endif
