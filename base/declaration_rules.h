// The rules of a package's declarations (base/declarations_format.h): kxpack
// judges a description by them and the programs judge the package data by
// the very same functions, as with base/name_rules.h.
//
// Portable: no Windows header. Text is UTF-16 (char16_t) with its length.
#ifndef KX_BASE_DECLARATION_RULES_H
#define KX_BASE_DECLARATION_RULES_H

#include <stddef.h>

#include "base/declarations_format.h"

namespace kxdecl {

enum class DeclProblem {
  kNone,
  kEmpty,
  kControlCharacter,
  kTooLong,
  kNotAFlag,
  kBadPath,          // no relative path inside the installation folder
  kBadExtension,     // not "." and 1 to 32 letters, digits, '_' or '-'
  kBadProgId,        // not a letter, then letters, digits and dots, at most 39
  kBadVariableName,  // empty, '=' or '%' inside, or PATH (declared as [[path]])
  kKeyRoot,          // the key begins with no root a package may write to
  kKeyOutsideSoftware,  // HKLM or HKA, but not below Software
  kKeyClasses,          // below Software\Classes: associations write there
  kKeyEnvironment,      // HKCU\Environment: [[environment]] and [[path]] write there
  kKeyBadComponent,     // an empty component (a doubled, leading or trailing '\')
  kBadType,
  kBadData,          // the data does not fit the type
  kBadChoice,        // uninstall or when with another word
  kBadNumber,        // the icon index
  kBadTaskName,
  kTokenInName,      // {install_folder} where only literal text belongs
  kBadShortcutName,  // no file name: a separator, "..", a device name, a trailing dot or blank
  kBadLocation       // not start_menu or desktop
};

// Where a declared registry key lies.
enum class KeyRoot { kLocalMachine, kCurrentUser, kScope };

enum class RegistryType { kString, kExpand, kMulti, kDword, kQword, kBinary, kUnknown };

// The longest value of a field, in UTF-16 units: the programs' fields hold
// 260 units with the terminating zero.
constexpr size_t kDeclTextMaxUnits = 259;
constexpr size_t kExtensionMaxUnits = 33;
constexpr size_t kProgIdMaxUnits = 39;
constexpr size_t kTaskNameMaxUnits = 32;
// A shortcut's name: with ".lnk" a file name of at most 255 units.
constexpr size_t kShortcutNameMaxUnits = 251;

// Judges one value by its kind (kRegistryData only for control characters
// and length: CheckRegistryData judges it with its type).
DeclProblem CheckDeclValue(kxformat::DeclValueKind kind, const char16_t* text, size_t length);

// A declared key: "HKLM\Software\<more>", "HKCU\<more>" or "HKA\Software\<more>"
// (HKA: HKLM for an installation for all users, HKCU for one for the current
// user), also with the roots' long names (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER).
// *root and *subkeyStart (the index behind the root's backslash) on kNone.
DeclProblem CheckDeclaredKey(const char16_t* key, size_t length, KeyRoot* root, size_t* subkeyStart);

RegistryType ParseRegistryType(const char16_t* text, size_t length);

// The data of a value of that type: a text for string and expand (empty
// allowed), strings separated by kMultiStringSeparator for multi, a decimal
// number for dword (to 4294967295) and qword (to 18446744073709551615), and
// pairs of hexadecimal digits for binary (empty allowed).
DeclProblem CheckRegistryData(RegistryType type, const char16_t* data, size_t length);

// The number a checked dword or qword data text or icon index names.
unsigned long long DecimalValue(const char16_t* text, size_t length);

// True when text may be an extension's earlier owner that setup records and
// the uninstaller restores (KX_LOG_ASSOCIATIONTAKEN): a ProgID as programs
// register them, 1 to 255 units of letters, digits and . _ - + , never
// beginning with '.', so that it names neither an extension nor a key path
// and holds no quote that would end the record's part.
bool IsOwnerProgId(const char16_t* text, size_t length);

// True when text holds the token kxformat::kInstallFolderToken.
bool HoldsInstallFolderToken(const char16_t* text, size_t length);

}  // namespace kxdecl

#endif
