#include "launcher/declared_records.h"

#include <stdio.h>
#include <wchar.h>

#include "base/declaration_rules.h"
#include "core/kxcore.h"
#include "launcher/install_scope.h"
#include "launcher/task_choice.h"

namespace {

using kxformat::DeclTableIndex;

// Formats into out; false when the text does not fit.
template <typename... Args>
bool Format(wchar_t* out, size_t capacity, const wchar_t* format, Args... args) {
  int written = _snwprintf(out, capacity, format, args...);
  if (written < 0 || static_cast<size_t>(written) >= capacity) {
    if (capacity) out[0] = L'\0';
    return false;
  }
  return true;
}

const wchar_t* Field(const DeclEntry& entry, size_t field) { return entry.fields[field]; }

}  // namespace

DeclScope CurrentDeclarationScope() {
  return RunScope() == InstallScope::kCurrentUser ? DeclScope::kCurrentUser : DeclScope::kAllUsers;
}

HKEY ScopeRoot(DeclScope scope) { return scope == DeclScope::kAllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

const wchar_t* ScopeRootName(DeclScope scope) {
  return scope == DeclScope::kAllUsers ? L"HKEY_LOCAL_MACHINE" : L"HKEY_CURRENT_USER";
}

const wchar_t* EnvironmentKey(DeclScope scope) {
  return scope == DeclScope::kAllUsers ? L"System\\CurrentControlSet\\Control\\Session Manager\\Environment"
                                       : L"Environment";
}

bool ResolveDeclaredKey(const wchar_t* declared, DeclScope scope, HKEY* root, const wchar_t** rootName,
                        const wchar_t** subkey) {
  kxdecl::KeyRoot which;
  size_t start = 0;
  if (kxdecl::CheckDeclaredKey(reinterpret_cast<const char16_t*>(declared), wcslen(declared), &which, &start) !=
      kxdecl::DeclProblem::kNone)
    return false;
  DeclScope effective = scope;
  if (which == kxdecl::KeyRoot::kLocalMachine) effective = DeclScope::kAllUsers;
  if (which == kxdecl::KeyRoot::kCurrentUser) effective = DeclScope::kCurrentUser;
  *root = ScopeRoot(effective);
  *rootName = ScopeRootName(effective);
  *subkey = declared + start;
  return true;
}

bool ExpandInstallFolder(const wchar_t* text, const wchar_t* folder, wchar_t* out, size_t capacity) {
  const size_t tokenLength = wcslen(kxformat::kInstallFolderTokenW);
  const size_t folderLength = wcslen(folder);
  size_t used = 0;
  for (const wchar_t* at = text; *at;) {
    const bool token = wcsncmp(at, kxformat::kInstallFolderTokenW, tokenLength) == 0;
    const wchar_t* piece = token ? folder : at;
    const size_t pieceLength = token ? folderLength : 1;
    if (used + pieceLength + 1 > capacity) return false;
    wmemcpy(out + used, piece, pieceLength);
    used += pieceLength;
    at += token ? tokenLength : 1;
  }
  if (used + 1 > capacity) return false;
  out[used] = L'\0';
  return true;
}

bool PayloadPath(const wchar_t* folder, const wchar_t* relative, wchar_t* out, size_t capacity) {
  if (wcscmp(relative, L".") == 0) return Format(out, capacity, L"%ls", folder);
  return Format(out, capacity, L"%ls\\%ls", folder, relative);
}

bool NormalInstallFolder(const wchar_t* folder, wchar_t* out, size_t capacity) {
  DWORD length = GetFullPathNameW(folder, static_cast<DWORD>(capacity), out, nullptr);
  if (length == 0 || length >= capacity) return false;
  while (length > 3 && out[length - 1] == L'\\') out[--length] = L'\0';
  return true;
}

bool PathEntryRecord(DeclScope scope, const wchar_t* entry, wchar_t* out, size_t capacity) {
  return Format(out, capacity, L"\"%ls\\%ls\" \"%ls\"", ScopeRootName(scope), EnvironmentKey(scope), entry);
}

bool VariableRecord(DeclScope scope, const wchar_t* name, const wchar_t* value, wchar_t* out, size_t capacity) {
  return Format(out, capacity, L"\"%ls\\%ls\" \"%ls\" \"%ls\"", ScopeRootName(scope), EnvironmentKey(scope), name,
                value);
}

bool AssociationRecord(DeclScope scope, const wchar_t* extension, const wchar_t* progId, wchar_t* out,
                       size_t capacity) {
  return Format(out, capacity, L"\"%ls\\%ls\\%ls\" \"%ls\"", ScopeRootName(scope), kClassesKey, extension, progId);
}

bool AssociationTakenRecord(DeclScope scope, const wchar_t* extension, const wchar_t* progId, const wchar_t* owner,
                            wchar_t* out, size_t capacity) {
  return Format(out, capacity, L"\"%ls\\%ls\\%ls\" \"%ls\" \"%ls\"", ScopeRootName(scope), kClassesKey, extension, progId,
                owner);
}

bool RegistryKeyRecord(const wchar_t* rootName, const wchar_t* key, size_t keyLength, wchar_t* out, size_t capacity) {
  return Format(out, capacity, L"%ls\\%.*ls", rootName, static_cast<int>(keyLength), key);
}

bool RegistryValueRecord(const wchar_t* rootName, const wchar_t* key, const wchar_t* name, wchar_t* out,
                         size_t capacity) {
  return Format(out, capacity, L"\"%ls\\%ls\" \"%ls\"", rootName, key, name);
}

bool DeclarationChosen(const DeclEntry& entry, size_t taskField) {
  return TaskNameChosen(entry.fields[taskField]);
}

void ForEachDeclaredRecord(const PackageDeclarations& declarations, const wchar_t* folder, DeclScope scope,
                           void (*allow)(int kind, const wchar_t* text)) {
  static wchar_t record[kDeclRecordCapacity];
  static wchar_t expanded[kDeclExpandedCapacity];
  for (unsigned i = 0; i < DeclarationCount(declarations, kxformat::kDeclPath); ++i) {
    const DeclEntry& entry = DeclarationAt(declarations, kxformat::kDeclPath, i);
    if (PayloadPath(folder, Field(entry, kxformat::kPathFolder), expanded, kDeclExpandedCapacity) &&
        PathEntryRecord(scope, expanded, record, kDeclRecordCapacity))
      allow(KX_LOG_PATHENTRY, record);
  }
  for (unsigned i = 0; i < DeclarationCount(declarations, kxformat::kDeclEnvironment); ++i) {
    const DeclEntry& entry = DeclarationAt(declarations, kxformat::kDeclEnvironment, i);
    if (ExpandInstallFolder(Field(entry, kxformat::kEnvValue), folder, expanded, kDeclExpandedCapacity) &&
        VariableRecord(scope, Field(entry, kxformat::kEnvName), expanded, record, kDeclRecordCapacity))
      allow(KX_LOG_ENVVAR, record);
  }
  for (unsigned i = 0; i < DeclarationCount(declarations, kxformat::kDeclAssociation); ++i) {
    const DeclEntry& entry = DeclarationAt(declarations, kxformat::kDeclAssociation, i);
    if (AssociationRecord(scope, Field(entry, kxformat::kAssocExtension), Field(entry, kxformat::kAssocProgId), record,
                          kDeclRecordCapacity))
      allow(KX_LOG_ASSOCIATION, record);
  }
  // A shortcut in the Start-menu folder lies below the Start-menu root,
  // which the uninstaller owns already; one on the desktop is allowed by its
  // exact name, as the desktop holds everybody's.
  static wchar_t desktop[kDeclExpandedCapacity];
  const int desktopLength = EvalVarBuf(L"%KXDESKTOPDIR%", desktop, static_cast<int>(sizeof desktop));
  const bool hasDesktop = desktopLength > 0 && static_cast<size_t>(desktopLength) < kDeclExpandedCapacity &&
                          wcscmp(desktop, L"%KXDESKTOPDIR%") != 0;
  for (unsigned i = 0; hasDesktop && i < DeclarationCount(declarations, kxformat::kDeclShortcut); ++i) {
    const DeclEntry& entry = DeclarationAt(declarations, kxformat::kDeclShortcut, i);
    if (_wcsicmp(Field(entry, kxformat::kShortcutLocation), L"desktop") != 0) continue;
    if (Format(record, kDeclRecordCapacity, L"%ls\\%ls.lnk", desktop, Field(entry, kxformat::kShortcutName)))
      allow(KX_LOG_FILE, record);
  }
  for (unsigned i = 0; i < DeclarationCount(declarations, kxformat::kDeclRegistry); ++i) {
    const DeclEntry& entry = DeclarationAt(declarations, kxformat::kDeclRegistry, i);
    // A value to keep is never logged, and nor is its key.
    if (_wcsicmp(Field(entry, kxformat::kRegUninstall), L"remove") != 0) continue;
    HKEY root;
    const wchar_t* rootName;
    const wchar_t* subkey;
    if (!ResolveDeclaredKey(Field(entry, kxformat::kRegKey), scope, &root, &rootName, &subkey)) continue;
    if (RegistryValueRecord(rootName, subkey, Field(entry, kxformat::kRegName), record, kDeclRecordCapacity))
      allow(KX_LOG_REGVALUE, record);
    ForEachRemovableKeyLevel(subkey, [&](size_t length) {
      if (RegistryKeyRecord(rootName, subkey, length, record, kDeclRecordCapacity)) allow(KX_LOG_REGKEY, record);
    });
  }
}
