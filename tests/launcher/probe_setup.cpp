// A setup program whose script reports what it sees: the launcher and the
// real core library, with a test script steered by environment variables.
//   KX_PROBE_OUT    file to write the launcher's variables into (UTF-8 lines NAME=value)
//   KX_PROBE_EXIT   text stored in EXITCODE; the script returns it as a number
//   KX_PROBE_CRASH  "1": the script dereferences null
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "core/kxcore.h"
#include "launcher/launcher_main.h"

namespace {

void WriteLine(FILE* out, const wchar_t* name, const wchar_t* value) {
  char utf8[4096];
  int length = WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof utf8, nullptr, nullptr);
  fprintf(out, "%ls=%s\n", name, length > 0 ? utf8 : "");
}

int ProbeScript() {
  wchar_t path[MAX_PATH];
  if (GetEnvironmentVariableW(L"KX_PROBE_OUT", path, MAX_PATH)) {
    FILE* out = _wfopen(path, L"w");
    if (out) {
      static const wchar_t* const kNames[] = {L"APPTITLE", L"ARCNAME", L"KXSFXPATH", L"CUR", L"ARCPATH", L"SILENT"};
      for (const wchar_t* name : kNames) {
        wchar_t reference[64];
        swprintf(reference, 64, L"%%%ls%%", name);
        WriteLine(out, name, EvalVar(reference));
      }
      wchar_t current[MAX_PATH];
      GetCurrentDirectoryW(MAX_PATH, current);
      WriteLine(out, L"CURRENTDIR", current);
      wchar_t library[MAX_PATH] = L"";
      GetModuleFileNameW(GetModuleHandleW(L"kxcore64.dll"), library, MAX_PATH);
      WriteLine(out, L"LIBRARY", library);
      fclose(out);
    }
  }
  if (GetEnvironmentVariableW(L"KX_PROBE_CRASH", path, MAX_PATH) && path[0] == L'1') {
    *static_cast<volatile int*>(nullptr) = 1;
  }
  wchar_t exitText[64];
  if (GetEnvironmentVariableW(L"KX_PROBE_EXIT", exitText, 64)) SetVar(L"EXITCODE", exitText);
  return static_cast<int>(wcstol(EvalVar(L"%EXITCODE%"), nullptr, 10));
}

const ProgramWork kProbe = {ProgramKind::Setup, nullptr, nullptr, ProbeScript, L"Package execution aborted.", nullptr};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return LauncherMain(instance, kProbe); }
