#include "script/version_rules.h"

#include <wchar.h>

#include "base/exit_codes.h"
#include "base/message_box.h"
#include "base/run_log.h"
#include "base/version_order.h"
#include "core/kxcore.h"
#include "launcher/launcher_main.h"
#include "launcher/literal_text.h"
#include "launcher/install_scope.h"
#include "launcher/package_data.h"
#include "launcher/script_flags.h"
#include "services/registry_reader.h"

bool CheckInstalledVersion(InstalledVersion* found, int* exitCode) {
  *found = InstalledVersion::kNone;
  SetVar(L"KXINSTALLEDVER", L"");
  wchar_t installed[kRegValueChars];
  RegReadValue(ScopeRootKey(), g_package.uninstallRegistryKey, L"DisplayVersion", installed);
  const size_t length = wcslen(installed);
  if (length == 0) return true;
  // Taken literally: a version is the entry's text, not a script text.
  SetVarLiteral(L"KXINSTALLEDVER", installed);
  const wchar_t* mine = g_package.productVersion;
  switch (kxversion::Compare(mine, wcslen(mine), installed, length)) {
    case kxversion::Order::kNewer:
      *found = InstalledVersion::kOlder;
      LogLine(L"Installed version %ls is older than %ls: an upgrade", installed, mine);
      return true;
    case kxversion::Order::kUnordered:
      *found = InstalledVersion::kUnordered;
      LogLine(L"Installed version %ls and %ls cannot be ordered: installed as an upgrade", installed, mine);
      return true;
    case kxversion::Order::kSame:
      *found = InstalledVersion::kSame;
      LogLine(L"Version %ls is installed already: a reinstall, every file is written again", installed);
      return true;
    case kxversion::Order::kOlder:
      break;
  }
  const bool bySwitch = FlagIsSet(L"%KXALLOWDOWNGRADE%");
  if (bySwitch || g_package.allowDowngrade) {
    *found = InstalledVersion::kNewerAllowed;
    LogLine(L"Installed version %ls is newer than %ls: a downgrade, allowed by %ls", installed, mine,
            bySwitch ? L"/ALLOWDOWNGRADE" : L"the package");
    return true;
  }
  LogLine(L"Error: installed version %ls is newer than %ls: the downgrade is refused, nothing is changed",
          installed, mine);
  // A silent run says it in its exit code and log alone, as a refused second
  // run does: a deployment tool's run must not wait for a box.
  if (!FlagIsSet(L"%SILENT%"))
    ShowMessageBox(nullptr, EvalVar(L"#downgraderefused"), g_launcher.title, MB_OK | MB_ICONERROR | MB_TOPMOST);
  *exitCode = kExitDowngradeRefused;
  return false;
}
