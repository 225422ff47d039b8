#include "uninstall_registration.h"

#include <stdio.h>
#include <wchar.h>

#include "install_journal.h"
#include "kxcore.h"
#include "package.h"
#include "registry_writer.h"

namespace {

struct UninstallValue {
  const wchar_t* name;
  const wchar_t* text;
};

const UninstallValue kUninstallValues[] = {
    {L"DisplayName", kProductName},       {L"DisplayVersion", kProductVersion},
    {L"UninstallString", L"%UNINSTFNAME%"}, {L"Publisher", kPublisher},
    {L"URLInfoAbout", kPublisherUrl},     {L"DisplayIcon", kUninstallerIcon},
};

// Formats into a buffer of kRegistryLogCapacity units; a longer text is cut.
template <typename... Args>
void FormatLogText(wchar_t* buffer, const wchar_t* format, Args... args) {
  int written = _snwprintf(buffer, kRegistryLogCapacity - 1, format, args...);
  if (written < 0 || static_cast<size_t>(written) >= kRegistryLogCapacity - 1) buffer[kRegistryLogCapacity - 1] = L'\0';
}

}  // namespace

void RegisterUninstallEntry() {
  wchar_t text[kRegistryLogCapacity];
  // The key as the writer expands it, for the install journal.
  wchar_t key[kRegistryLogCapacity];
  EvalVarBuf(kUninstallRegistryKey, key, sizeof(key));
  for (const UninstallValue& value : kUninstallValues) {
    // What the value held before comes back if the installation fails; a
    // value whose old state cannot be kept is not written.
    if (!RecordRegistryValue(HKEY_LOCAL_MACHINE, key, value.name)) continue;
    if (RegWriteValue(HKEY_LOCAL_MACHINE, kUninstallRegistryKey, value.name, value.text, REG_SZ) != ERROR_SUCCESS)
      continue;
    FormatLogText(text, L"\"%ls\\%ls\" \"%ls\"", L"HKEY_LOCAL_MACHINE", kUninstallRegistryKey, value.name);
    AddUninstLog(KX_LOG_REGVALUE, text);
    FormatLogText(text, L"HKEY_LOCAL_MACHINE\\%ls", kUninstallRegistryKey);
    AddUninstLog(KX_LOG_REGKEY, text);
  }
}
