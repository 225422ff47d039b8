// A DLL planted beside a program: as kxcore64.dll, and copied under the names
// of system DLLs (version.dll, uxtheme.dll, ...). If anything ever loads it,
// it leaves "<its own path>.loaded" next to itself.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      lstrcpyW(path + length, L".loaded");
      HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
  }
  return TRUE;
}

extern "C" __declspec(dllexport) void SetVar(const wchar_t*, const wchar_t*) {}
