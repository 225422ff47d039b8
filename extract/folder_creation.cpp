#include "extract/folder_creation.h"

#include "base/path_services.h"
#include "base/run_log.h"
#include "core/kxcore.h"
#include "extract/install_journal.h"

std::atomic<bool> g_uninstallLogging{false};

DWORD CreateOneFolder(const wchar_t* path) {
  DWORD error = CreateLoggedFolder(path);
  if (error != 0) return error;
  if (RecordCreatedFolder(path)) return 0;
  // A folder the install journal cannot hold would outlive a rollback.
  RemoveDirectoryW(Win32Path(path).get());
  LogLine(L"Error %d: the folder %ls could not be recorded for a rollback", ERROR_NOT_ENOUGH_MEMORY, path);
  return ERROR_NOT_ENOUGH_MEMORY;
}

namespace {

DWORD CreateRecordedFolder(const wchar_t* path) {
  if (g_uninstallLogging) AddUninstLog(KX_LOG_FOLDER, path);
  return CreateOneFolder(path);
}

}  // namespace

DWORD CreateInstallFolderPath(const wchar_t* path) { return CreateFolderPath(path, CreateRecordedFolder); }
