#include "launcher/declared_programs.h"

#include <stdio.h>
#include <wchar.h>

#include "base/handle_guard.h"
#include "base/run_log.h"
#include "launcher/declared_records.h"

namespace {

// "\"program\" arguments", with the installation folder put in.
bool CommandLine(const wchar_t* program, const wchar_t* arguments, const wchar_t* folder, wchar_t* out,
                 size_t capacity) {
  static wchar_t expanded[kDeclExpandedCapacity * 2];
  if (!ExpandInstallFolder(arguments, folder, expanded, sizeof expanded / sizeof expanded[0])) return false;
  int written = _snwprintf(out, capacity, expanded[0] ? L"\"%ls\" %ls" : L"\"%ls\"", program, expanded);
  return written >= 0 && static_cast<size_t>(written) < capacity;
}

}  // namespace

RunResult RunDeclaredPrograms(const PackageDeclarations& declarations, RunMoment moment, const wchar_t* folder,
                              void (*show)(const wchar_t* text)) {
  RunResult result = {RunOutcome::kDone, 0, {}};
  const wchar_t* wanted = moment == RunMoment::kAfterInstall ? L"after_install" : L"before_uninstall";
  for (unsigned i = 0; i < DeclarationCount(declarations, kxformat::kDeclRun); ++i) {
    const DeclEntry& entry = DeclarationAt(declarations, kxformat::kDeclRun, i);
    if (_wcsicmp(entry.fields[kxformat::kRunWhen], wanted) != 0) continue;
    if (!DeclarationChosen(entry, kxformat::kRunTask)) continue;
    static wchar_t program[MAX_PATH * 2];
    static wchar_t commandLine[4096];
    static wchar_t workingFolder[MAX_PATH * 2];
    if (!PayloadPath(folder, entry.fields[kxformat::kRunProgram], program, sizeof program / sizeof program[0]) ||
        !CommandLine(program, entry.fields[kxformat::kRunArguments], folder, commandLine,
                     sizeof commandLine / sizeof commandLine[0])) {
      result = {RunOutcome::kNotStarted, ERROR_FILENAME_EXCED_RANGE, {}};
      return result;
    }
    wcscpy(workingFolder, program);
    wchar_t* slash = wcsrchr(workingFolder, L'\\');
    if (slash) *slash = L'\0';
    show(entry.fields[kxformat::kRunText][0] ? entry.fields[kxformat::kRunText] : program);
    const bool wait = entry.fields[kxformat::kRunWait][0] == L'1';
    LogLine(L"Running %ls%ls", commandLine, wait ? L"" : L" (not waiting)");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, workingFolder, &startup,
                        &started)) {
      result.outcome = RunOutcome::kNotStarted;
      result.code = GetLastError();
      wcscpy(result.program, program);
      LogLine(L"Error %lu: %ls could not be started", result.code, program);
      return result;
    }
    KernelHandle process(started.hProcess);
    KernelHandle thread(started.hThread);
    if (!wait) continue;
    WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.get(), &exitCode)) exitCode = GetLastError();
    LogLine(L"%ls ended with exit code %lu", program, exitCode);
    if (exitCode != 0) {
      result.outcome = RunOutcome::kFailed;
      result.code = exitCode;
      wcscpy(result.program, program);
      return result;
    }
  }
  return result;
}
