#include "launcher/core_binding.h"

#include <wchar.h>

#include "base/exit_codes.h"
#include "base/system_libraries.h"
#include "core/kxcore.h"

namespace {

enum CoreOperation {
  kOpSetVar,
  kOpEvalVar,
  kOpEvalVarBuf,
  kOpInitSFX,
  kOpInitUninstall,
  kOpPerformUninstall,
  kOpShowDialogBox,
  kOpShowProgressBox,
  kOpKXDlgGetDlgItem,
  kOpCheckFileProp,
  kOpAddUninstLog,
  kOpManageUninstLog,
  kOpReplaceVarInFile,
  kOpInitRunLog,
  kOpFinishInterruptedInstall,
  kOpShowLanguageBox,
  kOpAllowUninstallRecord,
  kOperationCount
};

const char* const kOperationNames[kOperationCount] = {
    "SetVar",        "EvalVar",        "EvalVarBuf",      "InitSFX",       "InitUninstall",
    "PerformUninstall", "ShowDialogBox", "ShowProgressBox", "KXDlgGetDlgItem", "CheckFileProp",
    "AddUninstLog",  "ManageUninstLog", "ReplaceVarInFile", "InitRunLog", "FinishInterruptedInstall",
    "ShowLanguageBox", "AllowUninstallRecord"};

constexpr DWORD kUnloadWaitMs = 5000;

wchar_t g_libraryPath[MAX_PATH * 3];
HMODULE g_library;
FARPROC g_operations[kOperationCount];

FARPROC Bind(CoreOperation operation) {
  if (g_operations[operation]) return g_operations[operation];
  if (!g_library) {
    if (g_libraryPath[0]) g_library = LoadLibraryAtPath(g_libraryPath);
    if (!g_library) RaiseException(kCoreLibraryNotLoaded, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  }
  FARPROC address = GetProcAddress(g_library, kOperationNames[operation]);
  if (!address) RaiseException(kCoreOperationMissing, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  g_operations[operation] = address;
  return address;
}

template <typename Function>
Function Bound(CoreOperation operation) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(Bind(operation)));
}

}  // namespace

void SetCoreLibraryFolder(const wchar_t* folder) {
  size_t length = wcslen(folder);
  if (length + wcslen(kCoreLibraryName) + 1 > sizeof g_libraryPath / sizeof g_libraryPath[0]) {
    g_libraryPath[0] = L'\0';
    return;
  }
  wmemcpy(g_libraryPath, folder, length);
  wcscpy(g_libraryPath + length, kCoreLibraryName);
}

void ReleaseCoreLibrary() {
  HMODULE loaded = GetModuleHandleW(kCoreLibraryName);
  if (loaded) FreeLibrary(loaded);
  g_library = nullptr;
  for (FARPROC& operation : g_operations) operation = nullptr;
  // A window thread of the library (a progress box being closed) holds its
  // own reference until it has ended; the runtime folder can only be removed
  // once the library is really unloaded, so give that thread a moment.
  for (DWORD waited = 0; loaded && GetModuleHandleW(kCoreLibraryName) && waited < kUnloadWaitMs; waited += 10)
    Sleep(10);
}

extern "C" {

void SetVar(const wchar_t* name, const wchar_t* value) {
  Bound<decltype(&SetVar)>(kOpSetVar)(name, value);
}

const wchar_t* EvalVar(const wchar_t* text) { return Bound<decltype(&EvalVar)>(kOpEvalVar)(text); }

int EvalVarBuf(const wchar_t* text, wchar_t* buffer, int sizeBytes) {
  return Bound<decltype(&EvalVarBuf)>(kOpEvalVarBuf)(text, buffer, sizeBytes);
}

void InitRunLog(const wchar_t* logFile, int flags) { Bound<decltype(&InitRunLog)>(kOpInitRunLog)(logFile, flags); }

void InitSFX(HINSTANCE instance) { Bound<decltype(&InitSFX)>(kOpInitSFX)(instance); }

int InitUninstall(void) { return Bound<decltype(&InitUninstall)>(kOpInitUninstall)(); }

int PerformUninstall(int step, KxUninstallStepCallback callback) {
  return Bound<decltype(&PerformUninstall)>(kOpPerformUninstall)(step, callback);
}

int ShowDialogBox(const wchar_t* dialogName, KxDialogHandler handler) {
  return Bound<decltype(&ShowDialogBox)>(kOpShowDialogBox)(dialogName, handler);
}

int ShowProgressBox(KxDialogHandler handler) {
  return Bound<decltype(&ShowProgressBox)>(kOpShowProgressBox)(handler);
}

HWND KXDlgGetDlgItem(HWND dialog, int itemId) {
  return Bound<decltype(&KXDlgGetDlgItem)>(kOpKXDlgGetDlgItem)(dialog, itemId);
}

int CheckFileProp(int flags, wchar_t* path, int sizeBytes) {
  return Bound<decltype(&CheckFileProp)>(kOpCheckFileProp)(flags, path, sizeBytes);
}

void AllowUninstallRecord(int kind, const wchar_t* text) {
  Bound<decltype(&AllowUninstallRecord)>(kOpAllowUninstallRecord)(kind, text);
}

void AddUninstLog(int kind, const wchar_t* text) {
  Bound<decltype(&AddUninstLog)>(kOpAddUninstLog)(kind, text);
}

int ManageUninstLog(int operation) {
  return Bound<decltype(&ManageUninstLog)>(kOpManageUninstLog)(operation);
}

int FinishInterruptedInstall(const wchar_t* folder) {
  return Bound<decltype(&FinishInterruptedInstall)>(kOpFinishInterruptedInstall)(folder);
}

int ShowLanguageBox(void) { return Bound<decltype(&ShowLanguageBox)>(kOpShowLanguageBox)(); }

int ReplaceVarInFile(const wchar_t* source, const wchar_t* target, int flags) {
  return Bound<decltype(&ReplaceVarInFile)>(kOpReplaceVarInFile)(source, target, flags);
}

}  // extern "C"
