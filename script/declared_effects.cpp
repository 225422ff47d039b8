#include "script/declared_effects.h"

#include <shlobj.h>
#include <stdio.h>
#include <wchar.h>

#include "base/declaration_rules.h"
#include "base/handle_guard.h"
#include "base/path_list.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "extract/install_journal.h"

namespace {

// The PATH value may hold 32767 characters; one more entry and the zero.
constexpr size_t kPathListCapacity = 32767 + kDeclExpandedCapacity + 2;

wchar_t g_record[kDeclRecordCapacity];
wchar_t g_expanded[kDeclExpandedCapacity];
wchar_t g_key[kDeclRecordCapacity];
wchar_t g_pathList[kPathListCapacity];
wchar_t g_newPathList[kPathListCapacity];
BYTE g_data[(kDeclExpandedCapacity + 2) * sizeof(wchar_t)];

template <typename... Args>
bool Format(wchar_t* out, size_t capacity, const wchar_t* format, Args... args) {
  int written = _snwprintf(out, capacity, format, args...);
  return written >= 0 && static_cast<size_t>(written) < capacity;
}

// Writes one value after the journal has kept what it held; creates the key
// (every new level journalled too). 0 or the Windows error code.
DWORD WriteValue(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  if (!RecordRegistryValue(root, key, name)) return ERROR_NOT_ENOUGH_MEMORY;
  HKEY handle = nullptr;
  LSTATUS status = RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  RegKey opened(handle);
  return static_cast<DWORD>(RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), size));
}

DWORD WriteText(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type, const wchar_t* text) {
  return WriteValue(root, key, name, type, text, static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
}

void Log(int kind, const wchar_t* text) { AddUninstLog(kind, text); }

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  return c - L'A' + 10;
}

// The value's type and data as the registry takes them; false when the
// expanded data does not fit.
bool RegistryData(const DeclEntry& entry, const wchar_t* folder, DWORD* type, DWORD* size) {
  const wchar_t* typeText = entry.fields[kxformat::kRegType];
  const kxdecl::RegistryType parsed =
      kxdecl::ParseRegistryType(reinterpret_cast<const char16_t*>(typeText), wcslen(typeText));
  const wchar_t* data = entry.fields[kxformat::kRegData];
  switch (parsed) {
    case kxdecl::RegistryType::kDword: {
      const DWORD value = static_cast<DWORD>(kxdecl::DecimalValue(reinterpret_cast<const char16_t*>(data), wcslen(data)));
      memcpy(g_data, &value, sizeof value);
      *type = REG_DWORD;
      *size = sizeof value;
      return true;
    }
    case kxdecl::RegistryType::kQword: {
      const unsigned long long value = kxdecl::DecimalValue(reinterpret_cast<const char16_t*>(data), wcslen(data));
      memcpy(g_data, &value, sizeof value);
      *type = REG_QWORD;
      *size = sizeof value;
      return true;
    }
    case kxdecl::RegistryType::kBinary: {
      const size_t length = wcslen(data);
      for (size_t i = 0; i + 1 < length; i += 2)
        g_data[i / 2] = static_cast<BYTE>(HexDigit(data[i]) * 16 + HexDigit(data[i + 1]));
      *type = REG_BINARY;
      *size = static_cast<DWORD>(length / 2);
      return true;
    }
    default:
      break;
  }
  // Texts: the installation folder put in, never evaluated, so an expand
  // value keeps its %SystemRoot% for Windows to expand.
  wchar_t* text = reinterpret_cast<wchar_t*>(g_data);
  const size_t capacity = sizeof g_data / sizeof(wchar_t) - 1;
  if (!ExpandInstallFolder(data, folder, text, capacity)) return false;
  size_t length = wcslen(text);
  *type = parsed == kxdecl::RegistryType::kExpand ? REG_EXPAND_SZ : REG_SZ;
  if (parsed == kxdecl::RegistryType::kMulti) {
    // "a|b" becomes "a\0b\0\0".
    for (size_t i = 0; i < length; ++i)
      if (text[i] == static_cast<wchar_t>(kxformat::kMultiStringSeparator)) text[i] = L'\0';
    text[length + 1] = L'\0';
    *type = REG_MULTI_SZ;
    *size = static_cast<DWORD>((length + (length ? 2 : 1)) * sizeof(wchar_t));
    return true;
  }
  *size = static_cast<DWORD>((length + 1) * sizeof(wchar_t));
  return true;
}

DWORD ApplyRegistryValue(const DeclEntry& entry, const wchar_t* folder, DeclScope scope) {
  HKEY root;
  const wchar_t* rootName;
  const wchar_t* subkey;
  if (!ResolveDeclaredKey(entry.fields[kxformat::kRegKey], scope, &root, &rootName, &subkey)) return ERROR_INVALID_DATA;
  DWORD type = REG_SZ, size = 0;
  if (!RegistryData(entry, folder, &type, &size)) return ERROR_FILENAME_EXCED_RANGE;
  const wchar_t* name = entry.fields[kxformat::kRegName];
  DWORD error = WriteValue(root, subkey, name, type, g_data, size);
  if (error != 0) return error;
  LogLine(L"Registry value written: %ls\\%ls \"%ls\"", rootName, subkey, name);
  if (_wcsicmp(entry.fields[kxformat::kRegUninstall], L"remove") != 0) return 0;
  if (RegistryValueRecord(rootName, subkey, name, g_record, kDeclRecordCapacity)) Log(KX_LOG_REGVALUE, g_record);
  // Each level is removed at uninstall only when nothing else is left in it.
  ForEachRemovableKeyLevel(subkey, [&](size_t length) {
    if (RegistryKeyRecord(rootName, subkey, length, g_record, kDeclRecordCapacity)) Log(KX_LOG_REGKEY, g_record);
  });
  return 0;
}

DWORD ApplyVariable(const DeclEntry& entry, const wchar_t* folder, DeclScope scope) {
  const wchar_t* name = entry.fields[kxformat::kEnvName];
  if (!ExpandInstallFolder(entry.fields[kxformat::kEnvValue], folder, g_expanded, kDeclExpandedCapacity))
    return ERROR_FILENAME_EXCED_RANGE;
  // A value naming another variable is expanded by Windows when programs
  // start, as users write it in the system's dialog.
  const DWORD type = wcschr(g_expanded, L'%') ? REG_EXPAND_SZ : REG_SZ;
  DWORD error = WriteText(ScopeRoot(scope), EnvironmentKey(scope), name, type, g_expanded);
  if (error != 0) return error;
  LogLine(L"Environment variable set: %ls=%ls", name, g_expanded);
  if (VariableRecord(scope, name, g_expanded, g_record, kDeclRecordCapacity)) Log(KX_LOG_ENVVAR, g_record);
  return 0;
}

// The Path value and its type; an absent value is an empty REG_EXPAND_SZ,
// the type Windows gives it.
DWORD ReadPathList(HKEY root, const wchar_t* key, DWORD* type) {
  g_pathList[0] = L'\0';
  *type = REG_EXPAND_SZ;
  HKEY handle = nullptr;
  LSTATUS status = RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &handle);
  if (status == ERROR_FILE_NOT_FOUND) return 0;
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  RegKey opened(handle);
  DWORD size = (kPathListCapacity - kDeclExpandedCapacity - 2) * sizeof(wchar_t);
  status = RegQueryValueExW(handle, L"Path", nullptr, type, reinterpret_cast<BYTE*>(g_pathList), &size);
  if (status == ERROR_FILE_NOT_FOUND) {
    *type = REG_EXPAND_SZ;
    return 0;
  }
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  if (*type != REG_SZ && *type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  g_pathList[size / sizeof(wchar_t)] = L'\0';
  return 0;
}

DWORD ApplyPathEntry(const DeclEntry& entry, const wchar_t* folder, DeclScope scope) {
  if (!PayloadPath(folder, entry.fields[kxformat::kPathFolder], g_expanded, kDeclExpandedCapacity))
    return ERROR_FILENAME_EXCED_RANGE;
  DWORD type = REG_EXPAND_SZ;
  DWORD error = ReadPathList(ScopeRoot(scope), EnvironmentKey(scope), &type);
  if (error != 0) return error;
  // An entry PATH holds already (a reinstall) is not added twice; it is
  // logged all the same, as the installation's folder is the package's.
  if (!PathListHolds(g_pathList, g_expanded)) {
    if (!PathListAppend(g_pathList, g_expanded, g_newPathList, kPathListCapacity)) return ERROR_FILENAME_EXCED_RANGE;
    error = WriteText(ScopeRoot(scope), EnvironmentKey(scope), L"Path", type, g_newPathList);
    if (error != 0) return error;
    LogLine(L"PATH entry added: %ls", g_expanded);
  }
  if (PathEntryRecord(scope, g_expanded, g_record, kDeclRecordCapacity)) Log(KX_LOG_PATHENTRY, g_record);
  return 0;
}

// The ProgID the extension's own key in the scope's hive names before setup
// writes it, when another program's: the uninstaller gives the extension
// back to it. A text that is no ProgID is not kept (the uninstaller would
// refuse the record). False when there is none.
bool EarlierOwner(HKEY root, const wchar_t* extension, const wchar_t* progId, wchar_t* owner, size_t capacity) {
  wchar_t key[kxdecl::kExtensionMaxUnits + 24];
  if (!Format(key, sizeof key / sizeof key[0], L"Software\\Classes\\%ls", extension)) return false;
  DWORD size = static_cast<DWORD>((capacity - 1) * sizeof(wchar_t));
  if (RegGetValueW(root, key, nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, owner, &size) !=
      ERROR_SUCCESS)
    return false;
  owner[capacity - 1] = L'\0';
  const size_t length = wcslen(owner);
  if (length == 0 || _wcsicmp(owner, progId) == 0) return false;
  if (!kxdecl::IsOwnerProgId(reinterpret_cast<const char16_t*>(owner), length)) {
    LogLine(L"File type %ls belonged to \"%ls\", which is no ProgID: it is not given back at uninstall", extension, owner);
    return false;
  }
  return true;
}

DWORD ApplyAssociation(const DeclEntry& entry, const wchar_t* folder, DeclScope scope) {
  const HKEY root = ScopeRoot(scope);
  const wchar_t* extension = entry.fields[kxformat::kAssocExtension];
  const wchar_t* progId = entry.fields[kxformat::kAssocProgId];
  static wchar_t program[kDeclExpandedCapacity];
  if (!PayloadPath(folder, entry.fields[kxformat::kAssocProgram], program, kDeclExpandedCapacity))
    return ERROR_FILENAME_EXCED_RANGE;
  const wchar_t* icon = entry.fields[kxformat::kAssocIcon][0] ? entry.fields[kxformat::kAssocIcon] : nullptr;
  if (icon && !PayloadPath(folder, icon, g_expanded, kDeclExpandedCapacity)) return ERROR_FILENAME_EXCED_RANGE;
  const wchar_t* index = entry.fields[kxformat::kAssocIconIndex][0] ? entry.fields[kxformat::kAssocIconIndex] : L"0";
  struct Value {
    const wchar_t* keyFormat;  // below the scope's root; %ls the ProgID or the extension
    const wchar_t* subject;
    const wchar_t* name;
    DWORD type;
    const wchar_t* data;
  };
  wchar_t command[kDeclExpandedCapacity + 16];
  wchar_t iconText[kDeclExpandedCapacity + 16];
  if (!Format(command, sizeof command / sizeof command[0], L"\"%ls\" \"%%1\"", program) ||
      !Format(iconText, sizeof iconText / sizeof iconText[0], L"%ls,%ls", icon ? g_expanded : program, index))
    return ERROR_FILENAME_EXCED_RANGE;
  const Value values[] = {
      {L"Software\\Classes\\%ls", progId, L"", REG_SZ, entry.fields[kxformat::kAssocDescription]},
      {L"Software\\Classes\\%ls\\DefaultIcon", progId, L"", REG_SZ, iconText},
      {L"Software\\Classes\\%ls\\shell\\open\\command", progId, L"", REG_SZ, command},
      {L"Software\\Classes\\%ls", extension, L"", REG_SZ, progId},
      // The extension's "open with" list names the ProgID without data.
      {L"Software\\Classes\\%ls\\OpenWithProgids", extension, progId, REG_NONE, nullptr},
  };
  wchar_t owner[256];
  const bool taken = EarlierOwner(root, extension, progId, owner, sizeof owner / sizeof owner[0]);
  for (const Value& value : values) {
    if (!Format(g_key, kDeclRecordCapacity, value.keyFormat, value.subject)) return ERROR_FILENAME_EXCED_RANGE;
    DWORD error = value.data ? WriteText(root, g_key, value.name, value.type, value.data)
                             : WriteValue(root, g_key, value.name, value.type, nullptr, 0);
    if (error != 0) return error;
  }
  LogLine(L"File association written: %ls (%ls)", extension, progId);
  if (taken) {
    LogLine(L"File type %ls taken over from %ls", extension, owner);
    if (AssociationTakenRecord(scope, extension, progId, owner, g_record, kDeclRecordCapacity))
      Log(KX_LOG_ASSOCIATIONTAKEN, g_record);
  } else if (AssociationRecord(scope, extension, progId, g_record, kDeclRecordCapacity)) {
    Log(KX_LOG_ASSOCIATION, g_record);
  }
  return 0;
}

using Apply = DWORD (*)(const DeclEntry&, const wchar_t*, DeclScope);

}  // namespace

DWORD ApplyDeclaredEffects(const PackageDeclarations& declarations, const wchar_t* folder, DeclScope scope) {
  const struct {
    kxformat::DeclTableIndex table;
    size_t taskField;
    Apply apply;
  } kinds[] = {{kxformat::kDeclRegistry, kxformat::kRegTask, ApplyRegistryValue},
               {kxformat::kDeclEnvironment, kxformat::kEnvTask, ApplyVariable},
               {kxformat::kDeclPath, kxformat::kPathTask, ApplyPathEntry},
               {kxformat::kDeclAssociation, kxformat::kAssocTask, ApplyAssociation}};
  for (const auto& kind : kinds) {
    for (unsigned i = 0; i < DeclarationCount(declarations, kind.table); ++i) {
      const DeclEntry& entry = DeclarationAt(declarations, kind.table, i);
      if (!DeclarationChosen(entry, kind.taskField)) continue;
      DWORD error = kind.apply(entry, folder, scope);
      if (error != 0) {
        LogLine(L"Error %lu: the package's %hs declaration %u could not be carried out", error,
                kxformat::kDeclTables[kind.table].name, i + 1);
        return error;
      }
    }
  }
  return 0;
}

void AnnounceDeclaredChanges(const PackageDeclarations& declarations) {
  if (DeclarationCount(declarations, kxformat::kDeclPath) || DeclarationCount(declarations, kxformat::kDeclEnvironment)) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                        SMTO_ABORTIFHUNG, 5000, &answer);
  }
  if (DeclarationCount(declarations, kxformat::kDeclAssociation))
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
