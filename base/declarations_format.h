// What a package declares beyond its files (docs/packaging.md): file
// associations, PATH entries, environment variables, registry values,
// programs to run and shortcuts, and the tasks the user may choose them by. Portable: kxpack writes these lines into kxpackage.dat
// from this table (tools/kxpack/declarations.cpp) and the programs read them
// with it (launcher/package_declarations.cpp), so the format exists once.
//
// Each declaration is a group of lines "<table>.<n>.<field>=<value>", n
// counting from 1 without gaps within its table (at most the table's
// capacity), each field at most once; the required fields of every entry
// present. The lines come after the package's others, in any order; a
// package without declarations has none, and its file is as it always was.
// Every value is judged by its field's kind (base/declaration_rules.h).
#ifndef KX_BASE_DECLARATIONS_FORMAT_H
#define KX_BASE_DECLARATIONS_FORMAT_H

#include <stddef.h>

namespace kxformat {

enum class DeclValueKind {
  kText,           // not empty, no control character; may hold {install_folder}
  kOptionalText,   // a text that may be empty
  kFlag,           // "0" or "1"
  kPayloadPath,    // '\' separated, inside the installation folder
  kPayloadFolder,  // a kPayloadPath, or "." for the installation folder itself
  kExtension,      // ".txt": a dot and 1 to 32 letters, digits, '_' or '-'
  kProgId,         // letters, digits and dots, beginning with a letter, at most 39
  kVariableName,   // an environment variable other than PATH
  kRegistryKey,    // HKLM\Software\..., HKCU\... or HKA\Software\... (declaration_rules.h)
  kValueName,      // a registry value name; empty for the key's default value
  kRegistryType,   // string, expand, multi, dword, qword, binary
  kRegistryData,   // as its entry's type says (judged once the entry is complete)
  kUninstall,      // remove, keep
  kWhen,           // after_install, before_uninstall
  kArguments,      // a command line tail, quoted by kxpack as Windows splits it
  kIconIndex,      // a decimal number from 0 to 9999
  kTaskName,       // letters, digits and '_', 1 to 32
  kShortcutName,   // a file name (".lnk" is added), at most kShortcutNameMaxUnits
  kLocation        // start_menu, desktop
};

struct DeclField {
  const char* name;
  DeclValueKind kind;
  bool required;
};

// The tables after kDeclRun came later; their lines follow the others'.
// [[task]] declares no change itself: it names a choice the others refer to.
enum DeclTableIndex {
  kDeclAssociation,
  kDeclPath,
  kDeclEnvironment,
  kDeclRegistry,
  kDeclRun,
  kDeclShortcut,
  kDeclTask,
  kDeclTableCount
};

struct DeclTable {
  const char* name;
  size_t capacity;  // the most entries
  const DeclField* fields;
  size_t fieldCount;
};

constexpr size_t kDeclFieldsMax = 9;

// Field indices within their tables, in the order of the tables below.
enum AssociationField { kAssocExtension, kAssocProgId, kAssocProgram, kAssocDescription, kAssocIcon, kAssocIconIndex, kAssocTask };
enum PathField { kPathFolder, kPathTask };
enum EnvironmentField { kEnvName, kEnvValue, kEnvTask };
enum RegistryField { kRegKey, kRegName, kRegType, kRegData, kRegUninstall, kRegTask };
enum RunField { kRunWhen, kRunProgram, kRunArguments, kRunWait, kRunText, kRunTask };
enum ShortcutField {
  kShortcutName,
  kShortcutLocation,
  kShortcutTarget,
  kShortcutArguments,
  kShortcutWorkingFolder,
  kShortcutIcon,
  kShortcutIconIndex,
  kShortcutDescription,
  kShortcutTask
};
enum TaskField { kTaskName, kTaskDescription, kTaskDefault };

constexpr DeclField kAssociationFields[] = {
    {"extension", DeclValueKind::kExtension, true},      {"progid", DeclValueKind::kProgId, true},
    {"program", DeclValueKind::kPayloadPath, true},      {"description", DeclValueKind::kText, true},
    {"icon", DeclValueKind::kPayloadPath, false},        {"icon_index", DeclValueKind::kIconIndex, false},
    {"task", DeclValueKind::kTaskName, false}};
constexpr DeclField kPathFields[] = {{"folder", DeclValueKind::kPayloadFolder, true},
                                     {"task", DeclValueKind::kTaskName, false}};
constexpr DeclField kEnvironmentFields[] = {{"name", DeclValueKind::kVariableName, true},
                                            {"value", DeclValueKind::kText, true},
                                            {"task", DeclValueKind::kTaskName, false}};
constexpr DeclField kRegistryFields[] = {
    {"key", DeclValueKind::kRegistryKey, true},   {"name", DeclValueKind::kValueName, false},
    {"type", DeclValueKind::kRegistryType, true}, {"data", DeclValueKind::kRegistryData, false},
    {"uninstall", DeclValueKind::kUninstall, true}, {"task", DeclValueKind::kTaskName, false}};
constexpr DeclField kRunFields[] = {
    {"when", DeclValueKind::kWhen, true},          {"program", DeclValueKind::kPayloadPath, true},
    {"arguments", DeclValueKind::kArguments, false}, {"wait", DeclValueKind::kFlag, true},
    {"text", DeclValueKind::kText, false},         {"task", DeclValueKind::kTaskName, false}};
constexpr DeclField kShortcutFields[] = {
    {"name", DeclValueKind::kShortcutName, true},           {"location", DeclValueKind::kLocation, true},
    {"target", DeclValueKind::kPayloadPath, true},          {"arguments", DeclValueKind::kArguments, false},
    {"working_folder", DeclValueKind::kPayloadFolder, false}, {"icon", DeclValueKind::kPayloadPath, false},
    {"icon_index", DeclValueKind::kIconIndex, false},       {"description", DeclValueKind::kText, false},
    {"task", DeclValueKind::kTaskName, false}};
constexpr DeclField kTaskFields[] = {{"name", DeclValueKind::kTaskName, true},
                                     {"description", DeclValueKind::kText, true},
                                     {"default", DeclValueKind::kFlag, true}};

#define KX_DECL_FIELDS(array) array, sizeof array / sizeof array[0]
constexpr DeclTable kDeclTables[kDeclTableCount] = {
    {"association", 16, KX_DECL_FIELDS(kAssociationFields)},
    {"path", 8, KX_DECL_FIELDS(kPathFields)},
    {"environment", 16, KX_DECL_FIELDS(kEnvironmentFields)},
    {"registry", 32, KX_DECL_FIELDS(kRegistryFields)},
    {"run", 8, KX_DECL_FIELDS(kRunFields)},
    {"shortcut", 16, KX_DECL_FIELDS(kShortcutFields)},
    {"task", 8, KX_DECL_FIELDS(kTaskFields)},
};
#undef KX_DECL_FIELDS

// The token a text may use for the installation folder. It is replaced as
// written, never evaluated: "%SystemRoot%" in data stays a percent sign's text.
constexpr char kInstallFolderToken[] = "{install_folder}";
constexpr wchar_t kInstallFolderTokenW[] = L"{install_folder}";

// The separator of a multi-string value's strings in its data line.
constexpr char kMultiStringSeparator = '|';

}  // namespace kxformat

#endif
