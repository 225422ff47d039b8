#include "post_install_tasks.h"

#include <windows.h>
#include <shellapi.h>

#include "kxcore.h"
#include "package_texts.h"
#include "script_flags.h"
#include "script_state.h"

void RunPostInstallTasks() {
  wchar_t folder[kScriptPathCapacity];
  wchar_t program[kScriptPathCapacity];
  wchar_t parameters[kScriptPathCapacity];
  const bool silent = FlagIsSet(L"%SILENT%");
  const bool startProgram = silent ? g_package.startProgramSilent : g_package.startProgram;
  const bool openFolder = silent ? g_package.openFolderSilent : g_package.openFolder;

  EvalVarBuf(L"%DESTPATH%\\", folder, kScriptPathBytes);
  SetCurrentDirectoryW(folder);
  if (startProgram) {
    wchar_t programText[kPackageScriptTextCapacity];
    ProgramFileText(programText);
    EvalVarBuf(programText, program, kScriptPathBytes);
    EvalVarBuf(L"", parameters, kScriptPathBytes);
    ShellExecuteW(nullptr, nullptr, program, parameters, nullptr, SW_SHOWNORMAL);
  }
  if (openFolder) {
    EvalVarBuf(L"%DESTPATH%\\", folder, kScriptPathBytes);
    ShellExecuteW(nullptr, L"explore", folder, nullptr, nullptr, SW_SHOWNORMAL);
  }
}
