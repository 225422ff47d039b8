#include <wchar.h>

#include "base/path_services.h"
#include "base/run_log.h"
#include "extract/engine_state.h"
#include "extract/folder_creation.h"

namespace {

constexpr int kDecisionSkip = 0;
constexpr int kDecisionRewritten = 2;

void CopyPath(wchar_t* dest, const wchar_t* source) {
  size_t length = wcsnlen(source, kExtractPathCapacity - 1);
  wmemcpy(dest, source, length);
  dest[length] = L'\0';
}

}  // namespace

ExtractHookAnswer InstallFileHook(wchar_t* path, uint64_t size, const uint32_t*, const uint32_t*) {
  // The extraction's thread only; a path may take Windows' full length.
  static wchar_t decided[kExtractPathCapacity];
  CopyPath(decided, path);
  int decision = CheckFileProp(0, decided, static_cast<int>(sizeof(decided)));
  if (decision == kDecisionSkip) {
    LogLine(L"File skipped, the file on disk is kept: %ls", path);
    return kHookSkip;
  }
  // The library may leave the rewritten path unterminated at the very end.
  decided[kExtractPathCapacity - 1] = L'\0';
  if (decision == kDecisionRewritten) CopyPath(path, decided);

  StripLastPathComponent(decided);
  // The pass has usually just made sure of this folder; then no look-up.
  if (decided[0] != L'\0' && !IsKnownFolder(decided, wcslen(decided)) && !DirectoryExists(decided)) {
    CreateInstallFolderPath(decided);
    AddUninstLog(KX_LOG_FOLDER, decided);
  }
  AddUninstLog(KX_LOG_FILE, path);
  ++g_extractedFileCount;
  g_extractedBytes += size;
  return kHookWrite;
}
