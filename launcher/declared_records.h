// Where a package's declarations take effect and how the uninstall log names
// each effect: setup writes the records (script/declared_effects.h), and the
// uninstaller hands the core library every record its declarations could
// have made (AllowUninstallRecord) before the log is read, so a forged log
// reaches nothing else.
//
// Every place follows the installation's scope: for all users the machine's
// classes, environment and HKLM (HKA), for the current user the user's.
#ifndef KX_LAUNCHER_DECLARED_RECORDS_H
#define KX_LAUNCHER_DECLARED_RECORDS_H

#include <windows.h>
#include <stddef.h>

#include "launcher/package_declarations.h"

enum class DeclScope { kAllUsers, kCurrentUser };

// The scope this run installs or uninstalls in. Today every installation is
// for all users.
DeclScope CurrentDeclarationScope();

// A record's text: the longest key, a value name, and a value or entry.
constexpr size_t kDeclRecordCapacity = 1024;
// An expanded text (the installation folder put in): a folder of 259 units
// and a text of 259.
constexpr size_t kDeclExpandedCapacity = 600;

HKEY ScopeRoot(DeclScope scope);
const wchar_t* ScopeRootName(DeclScope scope);  // "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER"
// The key that holds the scope's environment, below its root.
const wchar_t* EnvironmentKey(DeclScope scope);
// The file types' key below the scope's root.
constexpr wchar_t kClassesKey[] = L"Software\\Classes";

// A declared registry key ("HKA\Software\Acme") for the scope: its root,
// the root's name and the key below it. False for a key the rules refuse.
bool ResolveDeclaredKey(const wchar_t* declared, DeclScope scope, HKEY* root, const wchar_t** rootName,
                        const wchar_t** subkey);

// text with every {install_folder} replaced by folder, taken as written
// (no variable or '%' is evaluated). False when it does not fit.
bool ExpandInstallFolder(const wchar_t* text, const wchar_t* folder, wchar_t* out, size_t capacity);

// folder + '\' + a payload path, or folder for ".". False when it does not fit.
bool PayloadPath(const wchar_t* folder, const wchar_t* relative, wchar_t* out, size_t capacity);

// The installation folder as the records name it: full, '\' separated,
// without a trailing backslash. False when it cannot be made.
bool NormalInstallFolder(const wchar_t* folder, wchar_t* out, size_t capacity);

// The records' texts (core/kxcore.h, KX_LOG_*). False when one does not fit.
bool PathEntryRecord(DeclScope scope, const wchar_t* entry, wchar_t* out, size_t capacity);
bool VariableRecord(DeclScope scope, const wchar_t* name, const wchar_t* value, wchar_t* out, size_t capacity);
bool AssociationRecord(DeclScope scope, const wchar_t* extension, const wchar_t* progId, wchar_t* out,
                       size_t capacity);
// An association of an extension another program owned before: that
// program's ProgID as the third part (KX_LOG_ASSOCIATIONTAKEN).
bool AssociationTakenRecord(DeclScope scope, const wchar_t* extension, const wchar_t* progId, const wchar_t* owner,
                            wchar_t* out, size_t capacity);
bool RegistryKeyRecord(const wchar_t* rootName, const wchar_t* key, size_t keyLength, wchar_t* out, size_t capacity);
bool RegistryValueRecord(const wchar_t* rootName, const wchar_t* key, const wchar_t* name, wchar_t* out,
                         size_t capacity);

// The levels of a declared key the uninstaller may remove when they are
// left empty: the key and its parents of at least two levels
// ("Software\Acme\Tool", "Software\Acme"; never "Software" itself). Calls
// level(length) with the length of each level's key text, deepest first.
template <typename Level>
void ForEachRemovableKeyLevel(const wchar_t* subkey, Level level) {
  size_t length = 0;
  while (subkey[length]) ++length;
  for (;;) {
    size_t separators = 0;
    for (size_t i = 0; i < length; ++i) separators += subkey[i] == L'\\';
    if (separators == 0 && length < 1) return;
    level(length);
    if (separators < 2) return;
    while (length > 0 && subkey[length - 1] != L'\\') --length;
    --length;
  }
}

// Every record the declarations could make for an installation in folder
// (whichever tasks were chosen), handed to allow(kind, text).
void ForEachDeclaredRecord(const PackageDeclarations& declarations, const wchar_t* folder, DeclScope scope,
                           void (*allow)(int kind, const wchar_t* text));

// True when the declaration names no task or a chosen one
// (launcher/task_choice.h).
bool DeclarationChosen(const DeclEntry& entry, size_t taskField);

#endif
