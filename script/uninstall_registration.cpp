#include "script/uninstall_registration.h"

#include <stdio.h>
#include <wchar.h>

#include "core/kxcore.h"
#include "extract/install_journal.h"
#include "launcher/install_scope.h"
#include "script/package_texts.h"
#include "services/registry_writer.h"

namespace {

struct UninstallValue {
  const wchar_t* name;
  const wchar_t* literal;  // a package value, or null for a script text
  const wchar_t* text;
  DWORD type = REG_SZ;
};

// Formats into a buffer of kRegistryLogCapacity units; a longer text is cut.
template <typename... Args>
void FormatLogText(wchar_t* buffer, const wchar_t* format, Args... args) {
  int written = _snwprintf(buffer, kRegistryLogCapacity - 1, format, args...);
  if (written < 0 || static_cast<size_t>(written) >= kRegistryLogCapacity - 1) buffer[kRegistryLogCapacity - 1] = L'\0';
}

}  // namespace

void RegisterUninstallEntry() {
  const UninstallValue values[] = {
      {L"DisplayName", g_package.productName, nullptr},
      {L"DisplayVersion", g_package.productVersion, nullptr},
      {L"UninstallString", nullptr, L"%UNINSTFNAME%"},
      {L"Publisher", g_package.publisher, nullptr},
      {L"URLInfoAbout", g_package.publisherUrl, nullptr},
      {L"DisplayIcon", nullptr, kUninstallerIcon},
      // What deployment tools read: where the package is, its size, how to
      // remove it unattended, and that it offers no modify or repair.
      {L"InstallLocation", nullptr, L"%DESTPATH%"},
      {L"EstimatedSize", nullptr, L"%KXESTIMATEDSIZE%", REG_DWORD},
      {L"QuietUninstallString", nullptr, L"\"%UNINSTFNAME%\" /S"},
      {L"NoModify", nullptr, L"1", REG_DWORD},
      {L"NoRepair", nullptr, L"1", REG_DWORD},
      // The language of the installation, which the uninstaller speaks
      // (LANGID, as Windows Installer records it).
      {L"Language", nullptr, L"%KXLANGID%", REG_DWORD},
  };
  const wchar_t* key = g_package.uninstallRegistryKey;
  wchar_t keyText[kPackageScriptTextCapacity];
  wchar_t data[kPackageScriptTextCapacity];
  EscapeScriptText(key, keyText, kPackageScriptTextCapacity);
  wchar_t text[kRegistryLogCapacity];
  for (const UninstallValue& value : values) {
    // A package without a web address gets no empty link in the list.
    if (value.literal && !value.literal[0]) continue;
    const wchar_t* dataText = value.text;
    if (value.literal) {
      EscapeScriptText(value.literal, data, kPackageScriptTextCapacity);
      dataText = data;
    }
    // What the value held before comes back if the installation fails; a
    // value whose old state cannot be kept is not written.
    // The entry lives in the scope's hive: HKEY_CURRENT_USER for a
    // current-user installation, which needs no administrator.
    if (!RecordRegistryValue(ScopeRootKey(), key, value.name)) continue;
    if (RegWriteValue(ScopeRootKey(), keyText, value.name, dataText, value.type) != ERROR_SUCCESS) continue;
    FormatLogText(text, L"\"%ls\\%ls\" \"%ls\"", ScopeRootName(), key, value.name);
    AddUninstLog(KX_LOG_REGVALUE, text);
    FormatLogText(text, L"%ls\\%ls", ScopeRootName(), key);
    AddUninstLog(KX_LOG_REGKEY, text);
  }
}
