#include "script/post_install_tasks.h"

#include <windows.h>
#include <shellapi.h>

#include "base/run_log.h"
#include "core/kxcore.h"
#include "launcher/script_flags.h"
#include "script/package_texts.h"
#include "script/script_state.h"

namespace {

// ShellExecuteW reports success with a value above 32.
void LogTask(const wchar_t* what, const wchar_t* path, HINSTANCE result) {
  INT_PTR code = reinterpret_cast<INT_PTR>(result);
  if (code > 32)
    LogLine(L"Task: %ls %ls", what, path);
  else
    LogLine(L"Error %d: task failed: %ls %ls", static_cast<int>(code), what, path);
}

}  // namespace

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
    LogTask(L"started", program, ShellExecuteW(nullptr, nullptr, program, parameters, nullptr, SW_SHOWNORMAL));
  }
  if (openFolder) {
    EvalVarBuf(L"%DESTPATH%\\", folder, kScriptPathBytes);
    LogTask(L"opened", folder, ShellExecuteW(nullptr, L"explore", folder, nullptr, nullptr, SW_SHOWNORMAL));
  }
}
