// What Windows accepts as names and folders of an installation, checked
// before a package is built rather than when it is installed.
#ifndef KX_TOOLS_KXPACK_NAME_RULES_H
#define KX_TOOLS_KXPACK_NAME_RULES_H

#include <string>
#include <vector>

// A file or folder name (one path component): not empty, none of
// < > : " / \ | ? * or control characters, no trailing blank or dot, not a
// device name (CON, NUL, COM1, ... with or without an extension). Returns
// what is wrong, or "".
std::string FileNameProblem(const std::string& name);

// A path relative to the installation folder, '/' or '\' separated, each
// component a file name, none "." or "..". Gives the components.
std::string RelativePathProblem(const std::string& path, std::vector<std::string>* components);

// A folder as a script text: an absolute folder ("C:\Tools") or one below a
// variable the core library provides (%PROGFILESDIR%\Tools,
// %COMPROGMENUDIR%\Tools); the rest file names.
std::string FolderTextProblem(const std::string& text);

#endif
