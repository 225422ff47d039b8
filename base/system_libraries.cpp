#include "base/system_libraries.h"

#include <delayimp.h>
#include <wchar.h>

namespace {

constexpr size_t kLibraryNameCapacity = 64;

// True when the process's activation context names a side-by-side copy of
// the DLL; the loader then takes that copy before it looks into any folder.
bool RedirectedByActivationContext(const wchar_t* name) {
  ACTCTX_SECTION_KEYED_DATA data = {};
  data.cbSize = sizeof data;
  return FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name, &data) != FALSE;
}

// Windows without the search flags rejects them with ERROR_INVALID_PARAMETER.
bool SearchFlagsRejected(HMODULE module) { return !module && GetLastError() == ERROR_INVALID_PARAMETER; }

// The programs link the system DLLs that are not KnownDLLs (and those whose
// imports under Wine are not) as delay-loaded imports. Their first call lands
// here, and the DLL comes from the system folder; one that is not there is
// never looked for anywhere else.
FARPROC WINAPI LoadDelayedImport(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary) return nullptr;
  wchar_t name[kLibraryNameCapacity];
  size_t length = 0;
  for (; info->szDll[length] && length + 1 < kLibraryNameCapacity; ++length)
    name[length] = static_cast<unsigned char>(info->szDll[length]);
  name[length] = L'\0';
  HMODULE module = info->szDll[length] ? nullptr : LoadSystemLibrary(name);
  if (!module) {
    ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
    RaiseException(kSystemLibraryMissing, 0, 1, &argument);
  }
  return reinterpret_cast<FARPROC>(module);
}

}  // namespace

// The delay-load helper's notification hook (MinGW's runtime reads it).
extern "C" {
extern PfnDliHook __pfnDliNotifyHook2;
PfnDliHook __pfnDliNotifyHook2 = LoadDelayedImport;
}

bool RestrictDllSearchToSystemFolder() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                 reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  return setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!SearchFlagsRejected(module)) return module;
  if (RedirectedByActivationContext(name)) return LoadLibraryW(name);
  wchar_t path[MAX_PATH];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  size_t nameLength = wcslen(name);
  if (length == 0 || length + 1 + nameLength >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  path[length] = L'\\';
  wmemcpy(path + length + 1, name, nameLength + 1);
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadLibraryAtPath(const wchar_t* path) {
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!SearchFlagsRejected(module)) return module;
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
