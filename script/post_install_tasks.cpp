#include "post_install_tasks.h"

#include <windows.h>
#include <shellapi.h>

#include "kxcore.h"
#include "package.h"
#include "script_state.h"

void RunPostInstallTasks() {
  wchar_t folder[kScriptPathCapacity];
  wchar_t program[kScriptPathCapacity];
  wchar_t parameters[kScriptPathCapacity];

  EvalVarBuf(L"%DESTPATH%\\", folder, kScriptPathBytes);
  SetCurrentDirectoryW(folder);
  EvalVarBuf(kProgramFile, program, kScriptPathBytes);
  EvalVarBuf(L"", parameters, kScriptPathBytes);
  ShellExecuteW(nullptr, nullptr, program, parameters, nullptr, SW_SHOWNORMAL);

  EvalVarBuf(L"%DESTPATH%\\", folder, kScriptPathBytes);
  ShellExecuteW(nullptr, L"explore", folder, nullptr, nullptr, SW_SHOWNORMAL);
}
