// AddUninstLog and ManageUninstLog: the uninstall log of the installation.
#include "base/package_format.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "core/module_files.h"
#include "core/previous_installation.h"
#include "core/uninstall_log.h"
#include "core/variables.h"

namespace {

// A variable's value, or the empty text when it was never set.
std::wstring Value(const wchar_t* name) {
  std::wstring value;
  return kxcore::GetVariable(name, &value) ? kxcore::Evaluate(value) : std::wstring();
}

}  // namespace

extern "C" {

void AddUninstLog(int kind, const wchar_t* text) {
  try {
    kxcore::AddUninstallRecord(kind, text);
  } catch (...) {
  }
}

int ManageUninstLog(int operation) {
  try {
    switch (operation) {
      case KX_LOG_BEGIN:
        kxcore::BeginUninstallLog();
        LogLine(L"Uninstall log begun");
        kxcore::RememberEarlierInstallation(kxcore::NormalRecordPath(kxcore::Evaluate(L"%DESTPATH%")));
        return 0;
      case KX_LOG_COMMIT: {
        const std::wstring destination = kxcore::Evaluate(L"%DESTPATH%");
        const std::wstring folder = kxcore::NormalRecordPath(destination);
        const kxcore::UninstallScope scope = kxcore::MakeUninstallScope(
            folder + L"\\" + kxcore::kUninstallerName, Value(L"COMPROGMENUDIR"), Value(L"KXUNINSTREGKEY"),
            Value(L"KXUNINSTREGROOT"));
        kxcore::AdoptEarlierInstallation(folder, scope, Value(L"WIN"));
        DWORD error = kxcore::CommitUninstallLog(destination, kxcore::LibraryFolder() + kxformat::kUninstallerFileW);
        if (error == 0) {
          LogLine(L"Uninstaller and uninstall log written into %ls", destination.c_str());
          kxcore::KeepNewInstallationAtRestart(folder, scope, Value(L"WIN"));
        } else {
          LogLine(L"Error %lu: the uninstaller and its log could not be written into %ls", error, destination.c_str());
        }
        return static_cast<int>(error);
      }
      case KX_LOG_DISCARD:
        kxcore::DiscardUninstallLog();
        LogLine(L"Uninstall log discarded");
        return 0;
      default:
        return ERROR_INVALID_PARAMETER;
    }
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // extern "C"
