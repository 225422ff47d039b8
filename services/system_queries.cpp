#include "services/system_queries.h"

#include <stdio.h>
#include <stdlib.h>

#include "base/handle_guard.h"
#include "core/kxcore.h"

namespace {

// First guess for an environment value, in units with the terminator.
enum { kEnvironmentChars = 4096 };

// Room for any 64-bit number and FileVersionToVar's static result.
enum { kNumberChars = 4096 };

wchar_t g_versionText[kNumberChars];

struct HeapTraits {
  using Type = wchar_t*;
  static Type Invalid() { return nullptr; }
  static void Close(Type p) { free(p); }
};
using HeapText = UniqueHandle<HeapTraits>;

}  // namespace

bool EnvToVar(const wchar_t* envName, const wchar_t* varName) {
  HeapText buffer(static_cast<wchar_t*>(malloc(kEnvironmentChars * sizeof(wchar_t))));
  if (!buffer) return false;
  // A stale ERROR_ENVVAR_NOT_FOUND would make an empty value look missing.
  SetLastError(ERROR_SUCCESS);
  DWORD length = GetEnvironmentVariableW(envName, buffer.get(), kEnvironmentChars);
  if (length == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    SetVar(varName, L"");
    return false;
  }
  if (length >= kEnvironmentChars) {
    // length is the size needed, terminator included.
    DWORD needed = length;
    wchar_t* grown = static_cast<wchar_t*>(realloc(buffer.get(), needed * sizeof(wchar_t)));
    if (!grown) return false;
    buffer.release();
    buffer.reset(grown);
    length = GetEnvironmentVariableW(envName, buffer.get(), needed);
    // Changed since the first call: what the buffer holds is not the value.
    if (length == 0 || length >= needed) return false;
  }
  SetVar(varName, buffer.get());
  return true;
}

bool QueryDiskSpaceByClusters(const wchar_t* rootPath, DiskSpace* space) {
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!GetDiskFreeSpaceW(rootPath, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) return false;
  ULONGLONG bytesPerCluster = static_cast<ULONGLONG>(sectorsPerCluster) * bytesPerSector;
  space->totalBytes = totalClusters * bytesPerCluster;
  space->totalFree = freeClusters * bytesPerCluster;
  space->availableToCaller = space->totalFree;
  return true;
}

bool QueryDiskSpace(const wchar_t* rootPath, DiskSpace* space) {
  typedef BOOL(WINAPI * GetDiskFreeSpaceExFunction)(const wchar_t*, ULARGE_INTEGER*, ULARGE_INTEGER*,
                                                    ULARGE_INTEGER*);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto getDiskFreeSpaceEx = kernel ? reinterpret_cast<GetDiskFreeSpaceExFunction>(reinterpret_cast<void*>(
                                         GetProcAddress(kernel, "GetDiskFreeSpaceExW")))
                                   : nullptr;
  if (!getDiskFreeSpaceEx) return QueryDiskSpaceByClusters(rootPath, space);
  ULARGE_INTEGER available, total, freeBytes;
  if (!getDiskFreeSpaceEx(rootPath, &available, &total, &freeBytes)) return false;
  space->availableToCaller = available.QuadPart;
  space->totalBytes = total.QuadPart;
  space->totalFree = freeBytes.QuadPart;
  return true;
}

void DiskSpaceToVar(const wchar_t* rootPath, const wchar_t* varName, int kind) {
  wchar_t text[kNumberChars];
  text[0] = L'\0';
  DiskSpace space;
  if (QueryDiskSpace(rootPath, &space)) {
    ULONGLONG bytes = kind == kDiskTotalBytes       ? space.totalBytes
                      : kind == kDiskAvailableBytes ? space.availableToCaller
                                                    : space.totalFree;
    _snwprintf(text, kNumberChars, L"%lld", static_cast<long long>(bytes));
  }
  SetVar(varName, text);
}

bool FileVersionToVar(const wchar_t* filePath, int part, const wchar_t* varName) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(filePath, &handle);
  if (size == 0) return false;
  GlobalMemory block(GlobalAlloc(GPTR, size));
  if (!block) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!GetFileVersionInfoW(filePath, 0, size, block.get()) ||
      !VerQueryValueW(block.get(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info ||
      infoSize < sizeof *info) {
    return false;
  }
  DWORD value = 0;
  switch (part) {
    case 0: value = HIWORD(info->dwFileVersionMS); break;
    case 1: value = LOWORD(info->dwFileVersionMS); break;
    case 2: value = HIWORD(info->dwFileVersionLS); break;
    case 3: value = LOWORD(info->dwFileVersionLS); break;
    default: value = 0; break;
  }
  _snwprintf(g_versionText, kNumberChars, L"%lu", static_cast<unsigned long>(value));
  SetVar(varName, g_versionText);
  return true;
}
