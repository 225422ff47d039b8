#include "core/uninstall_run.h"

#include <windows.h>

#include "base/message_box.h"
#include "base/run_log.h"
#include "core/command_line.h"
#include "core/declared_removal.h"
#include "core/uninstall_log.h"
#include "core/uninstall_scope.h"
#include "core/uninstall_steps.h"
#include "core/variables.h"

namespace kxcore {
namespace {

UninstallRun g_run;
bool g_logRead = false;

std::wstring LogPathFor(const std::wstring& program) {
  size_t slash = program.find_last_of(L"\\/");
  size_t dot = program.find_last_of(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) dot = program.size();
  return program.substr(0, dot) + L".dat";
}

void Tell(const wchar_t* key, const std::wstring& path) {
  LogLine(L"Error: %ls %ls", Evaluate(key).c_str(), path.c_str());
  if (Evaluate(L"%SILENT%") == L"1") return;
  std::wstring title;
  GetVariable(L"APPTITLE", &title);
  std::wstring text = Evaluate(key) + L"\r\n\r\n" + path;
  ShowMessageBox(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

int ReadLogAndRemoveFiles(KxUninstallStepCallback callback) {
  g_run.records.clear();
  ReleaseSpill(&g_run.files);
  ReleaseSpill(&g_run.folders);
  // A log naming anything this installation does not own is forged or
  // damaged: nothing at all is removed. Each record is judged as it is read
  // (the log is read a piece at a time); the file records wait in a
  // temporary file, the folders in another, the few others in memory, until
  // the whole log is read and judged.
  UninstallScope scope = MakeUninstallScope(g_run.uninstallerPath, Evaluate(L"%COMPROGMENUDIR%"),
                                            Evaluate(L"%KXUNINSTREGKEY%"), Evaluate(L"%KXUNINSTREGROOT%"));
  // From here on every path is the one the containment was judged on, so
  // short names and letter case cannot hide the uninstaller or its log.
  RecordJudge judge(scope);
  bool inScope = true;
  DWORD kept = 0;
  LogFileStatus status = ReadUninstallLogStream(g_run.logPath, [&](int kind, std::wstring&& text) {
    if (!inScope || kept != 0) return;
    UninstallRecord record = {kind, std::move(text)};
    if (!judge.Resolve(&record)) {
      inScope = false;
      return;
    }
    if (kind == KX_LOG_FILE)
      kept = SpillAppend(&g_run.files, record.text.data(), record.text.size() * sizeof(wchar_t));
    else if (kind == KX_LOG_FOLDER)
      kept = SpillAppend(&g_run.folders, record.text.data(), record.text.size() * sizeof(wchar_t));
    else
      g_run.records.push_back(std::move(record));
  });
  switch (status) {
    case LogFileStatus::kOk:
      break;
    case LogFileStatus::kMissing:
      Tell(L"#uninstlogmissing", g_run.logPath);
      return ERROR_FILE_NOT_FOUND;
    case LogFileStatus::kUnreadable:
    case LogFileStatus::kDamaged:
      g_run.records.clear();
      ReleaseSpill(&g_run.files);
      ReleaseSpill(&g_run.folders);
      Tell(L"#uninstlogdamaged", g_run.logPath);
      return ERROR_FILE_CORRUPT;
  }
  if (!inScope || kept != 0) {
    g_run.records.clear();
    ReleaseSpill(&g_run.files);
    ReleaseSpill(&g_run.folders);
    if (kept != 0) LogLine(L"Error %lu: the uninstall log's records could not be kept", static_cast<unsigned long>(kept));
    Tell(L"#uninstlogdamaged", g_run.logPath);
    return ERROR_FILE_CORRUPT;
  }
  g_run.scope = scope;
  g_run.uninstallerPath = ResolvePath(g_run.uninstallerPath);
  g_run.logPath = ResolvePath(g_run.logPath);
  g_logRead = true;
  LogLine(L"Uninstall log read: %ls (%u records)", g_run.logPath.c_str(),
          static_cast<unsigned>(g_run.records.size() + g_run.files.count + g_run.folders.count));
  return RemoveLoggedFiles(&g_run, callback);
}

}  // namespace

int DecideUninstall() {
  if (StopRequested()) return 0;
  // ARCNAME is stored escaped (a literal path); only its evaluation is the path.
  std::wstring program = Evaluate(L"%ARCNAME%");
  if (program.empty() || program == L"%ARCNAME%") return 0;
  std::wstring log = LogPathFor(program);
  DWORD attributes = GetFileAttributesW(log.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Tell(L"#uninstlogmissing", log);
    return 0;
  }
  ReleaseSpill(&g_run.files);
  ReleaseSpill(&g_run.folders);
  g_run = UninstallRun();
  g_run.uninstallerPath = program;
  g_run.logPath = log;
  LogLine(L"Uninstall from %ls, with the uninstall log %ls", program.c_str(), log.c_str());
  g_logRead = false;
  return 1;
}

int RunUninstallStep(int step, KxUninstallStepCallback callback) {
  if (g_run.logPath.empty()) return ERROR_INVALID_FUNCTION;
  if (step == KX_STEP_FILES) return ReadLogAndRemoveFiles(callback);
  if (!g_logRead) return ERROR_INVALID_FUNCTION;
  switch (step) {
    case KX_STEP_FOLDERS:
      return RemoveLoggedFolders(&g_run, callback);
    case KX_STEP_REGVALUES:
      return RemoveLoggedValues(&g_run, callback);
    case KX_STEP_REGKEYS:
      return RemoveLoggedKeys(&g_run, callback);
    case KX_STEP_LOG:
      return RemoveLogFile(&g_run, callback);
    case KX_STEP_DECLARED:
      return RemoveDeclaredEffects(&g_run, callback);
    default:
      return ERROR_INVALID_PARAMETER;
  }
}

}  // namespace kxcore
