// The script texts the install script builds from the package's values
// (g_package, launcher/package_data.h). The package's names are literal
// texts: they reach the core library escaped (launcher/literal_text.h), so a
// '%' or '#' in them stays what it is.
#ifndef KX_SCRIPT_PACKAGE_TEXTS_H
#define KX_SCRIPT_PACKAGE_TEXTS_H

#include <stddef.h>

#include "launcher/literal_text.h"
#include "launcher/package_data.h"

// Capacity of a script text made of one package value (the uninstall registry
// key the longest), escaped, and a short fixed part ("%SHORTCUTPATH%\",
// ".lnk").
constexpr size_t kPackageScriptTextCapacity = 2 * kUninstallRegistryKeyCapacity + 32;

constexpr wchar_t kUninstallerFile[] = L"%DESTPATH%\\Uninst.exe";
constexpr wchar_t kUninstallerIcon[] = L"%DESTPATH%\\Uninst.exe,0";

// "%DESTPATH%\<program file>", the installed program.
void ProgramFileText(wchar_t (&text)[kPackageScriptTextCapacity]);

// "%SHORTCUTPATH%\<shortcut name>.lnk", the Start-menu shortcut.
void ShortcutFileText(wchar_t (&text)[kPackageScriptTextCapacity]);

#endif
