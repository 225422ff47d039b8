#include "core/declared_removal.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "base/handle_guard.h"
#include "base/path_list.h"
#include "base/run_log.h"
#include "core/decimal_text.h"
#include "core/declared_scope.h"
#include "core/uninstall_log.h"

namespace kxcore {
namespace {

bool IsGone(LSTATUS status) { return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND; }

bool OpenKey(const std::wstring& rootAndKey, REGSAM access, RegKey* opened, LSTATUS* status) {
  HKEY root;
  std::wstring key, unused;
  if (!ParseRegistryRecord(rootAndKey, false, &root, &key, &unused)) {
    *status = ERROR_INVALID_DATA;
    return false;
  }
  HKEY handle = nullptr;
  *status = RegOpenKeyExW(root, key.c_str(), 0, access, &handle);
  opened->reset(*status == ERROR_SUCCESS ? handle : nullptr);
  return *status == ERROR_SUCCESS;
}

// A string value's data (REG_SZ or REG_EXPAND_SZ) and type; false when it
// is missing or of another type.
bool ReadText(HKEY key, const wchar_t* name, std::wstring* text, DWORD* type) {
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (*type != REG_SZ && *type != REG_EXPAND_SZ) return false;
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
  DWORD read = size;
  if (RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<BYTE*>(data.data()), &read) != ERROR_SUCCESS)
    return false;
  *text = data.data();
  return true;
}

// Deletes the key when it has neither values nor subkeys.
void DeleteKeyIfEmpty(HKEY parent, const std::wstring& name) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) return;
  RegKey opened(handle);
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS ||
      subkeys != 0 || values != 0)
    return;
  opened.reset(nullptr);
  RegDeleteKeyExW(parent, name.c_str(), KEY_WOW64_64KEY, 0);
}

LSTATUS RemovePathEntry(const std::wstring& rootAndKey, const std::wstring& entry) {
  RegKey key;
  LSTATUS status;
  if (!OpenKey(rootAndKey, KEY_QUERY_VALUE | KEY_SET_VALUE, &key, &status)) return IsGone(status) ? 0 : status;
  std::wstring list;
  DWORD type = REG_EXPAND_SZ;
  if (!ReadText(key.get(), L"Path", &list, &type)) return 0;
  std::vector<wchar_t> without(list.size() + 1);
  if (!PathListRemove(list.c_str(), entry.c_str(), without.data(), without.size())) {
    LogLine(L"PATH entry already gone: %ls", entry.c_str());
    return 0;
  }
  // A Path left empty was setup's own: a user's environment has none until
  // something adds an entry (the machine's always holds the system's).
  if (without[0] == L'\0') {
    status = RegDeleteValueW(key.get(), L"Path");
    if (status == ERROR_SUCCESS) LogLine(L"PATH entry removed: %ls; Path is empty and goes", entry.c_str());
    return IsGone(status) ? 0 : status;
  }
  const DWORD bytes = static_cast<DWORD>((wcslen(without.data()) + 1) * sizeof(wchar_t));
  status = RegSetValueExW(key.get(), L"Path", 0, type, reinterpret_cast<const BYTE*>(without.data()), bytes);
  if (status == ERROR_SUCCESS) LogLine(L"PATH entry removed: %ls", entry.c_str());
  return status;
}

LSTATUS RemoveVariable(const std::wstring& rootAndKey, const std::wstring& name, const std::wstring& value) {
  RegKey key;
  LSTATUS status;
  if (!OpenKey(rootAndKey, KEY_QUERY_VALUE | KEY_SET_VALUE, &key, &status)) return IsGone(status) ? 0 : status;
  std::wstring present;
  DWORD type = REG_SZ;
  if (!ReadText(key.get(), name.c_str(), &present, &type)) return 0;
  if (present != value) {
    LogLine(L"Environment variable kept, it was changed since: %ls", name.c_str());
    return 0;
  }
  status = RegDeleteValueW(key.get(), name.c_str());
  if (status == ERROR_SUCCESS) LogLine(L"Environment variable removed: %ls", name.c_str());
  return IsGone(status) ? 0 : status;
}

// A ProgID key exists below the scope's classes or in the merged view.
bool ProgIdExists(HKEY classes, const std::wstring& progId) {
  for (HKEY root : {classes, HKEY_CLASSES_ROOT}) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, progId.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) continue;
    RegCloseKey(handle);
    return true;
  }
  return false;
}

// earlierOwner: the ProgID the extension named before setup took it, empty
// when none; given back while the extension still names ours and the
// earlier owner is still registered.
LSTATUS RemoveAssociation(const std::wstring& extensionKey, const std::wstring& progId,
                          const std::wstring& earlierOwner) {
  // "<root>\Software\Classes\.ext": the classes key is the extension's parent.
  const size_t slash = extensionKey.rfind(L'\\');
  if (slash == std::wstring::npos) return ERROR_INVALID_DATA;
  const std::wstring classesText = extensionKey.substr(0, slash);
  const std::wstring extension = extensionKey.substr(slash + 1);
  RegKey classes;
  LSTATUS status;
  if (!OpenKey(classesText, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS | DELETE, &classes, &status))
    return IsGone(status) ? 0 : status;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(classes.get(), extension.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &handle) == ERROR_SUCCESS) {
    RegKey ext(handle);
    std::wstring owner;
    DWORD type = REG_SZ;
    if (ReadText(ext.get(), nullptr, &owner, &type)) {
      if (CompareStringOrdinal(owner.c_str(), -1, progId.c_str(), -1, TRUE) == CSTR_EQUAL) {
        if (!earlierOwner.empty() && ProgIdExists(classes.get(), earlierOwner)) {
          status = RegSetValueExW(ext.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(earlierOwner.c_str()),
                                  static_cast<DWORD>((earlierOwner.size() + 1) * sizeof(wchar_t)));
          if (status != ERROR_SUCCESS) return status;
          LogLine(L"File type %ls given back to %ls", extension.c_str(), earlierOwner.c_str());
        } else {
          if (!earlierOwner.empty())
            LogLine(L"File type %ls: its earlier owner %ls is gone", extension.c_str(), earlierOwner.c_str());
          status = RegDeleteValueW(ext.get(), nullptr);
          if (status != ERROR_SUCCESS && !IsGone(status)) return status;
        }
      } else {
        LogLine(L"File type %ls kept for %ls, which took it over", extension.c_str(), owner.c_str());
      }
    }
    HKEY list = nullptr;
    if (RegOpenKeyExW(ext.get(), L"OpenWithProgids", 0, KEY_SET_VALUE, &list) == ERROR_SUCCESS) {
      RegKey progIds(list);
      status = RegDeleteValueW(list, progId.c_str());
      if (status != ERROR_SUCCESS && !IsGone(status)) return status;
    }
    DeleteKeyIfEmpty(ext.get(), L"OpenWithProgids");
  }
  DeleteKeyIfEmpty(classes.get(), extension);
  status = RegDeleteTreeW(classes.get(), progId.c_str());
  if (status != ERROR_SUCCESS && !IsGone(status)) return status;
  status = RegDeleteKeyExW(classes.get(), progId.c_str(), KEY_WOW64_64KEY, 0);
  if (status != ERROR_SUCCESS && !IsGone(status)) return status;
  LogLine(L"File association removed: %ls (%ls)", extension.c_str(), progId.c_str());
  return 0;
}

}  // namespace

int RemoveDeclaredEffects(UninstallRun* run, KxUninstallStepCallback callback) {
  int result = 0;
  bool environment = false, associations = false;
  std::vector<std::wstring> done;
  for (const UninstallRecord& record : run->records) {
    if (record.kind < kRecordPathEntry || record.kind > kRecordAssociationTaken) continue;
    std::wstring key = DecimalText(record.kind) + L"|" + record.text;
    bool repeated = false;
    for (const std::wstring& text : done) repeated = repeated || text == key;
    if (repeated) continue;
    done.push_back(key);
    std::wstring rootAndKey, first, second;
    if (!SplitDeclaredRecord(record.text, record.kind, &rootAndKey, &first, &second)) continue;
    if (callback) callback(KX_STEP_DECLARED, record.kind, record.text.c_str());
    LSTATUS status = 0;
    switch (record.kind) {
      case kRecordPathEntry:
        status = RemovePathEntry(rootAndKey, first);
        environment = true;
        break;
      case kRecordVariable:
        status = RemoveVariable(rootAndKey, first, second);
        environment = true;
        break;
      default:
        status = RemoveAssociation(rootAndKey, first, record.kind == kRecordAssociationTaken ? second : std::wstring());
        associations = true;
        break;
    }
    if (status != 0) {
      LogLine(L"Error %ld: %ls could not be undone", static_cast<long>(status), record.text.c_str());
      if (result == 0) result = static_cast<int>(status);
    }
  }
  if (environment) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"),
                        SMTO_ABORTIFHUNG, 5000, &answer);
  }
  if (associations) SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return result;
}

}  // namespace kxcore
