#include "core/uninstall_steps.h"

#include <algorithm>

#include "base/handle_guard.h"
#include "base/restart_operations.h"
#include "base/run_log.h"
#include "core/uninstall_scope_rules.h"
#include "core/utf16_text.h"
#include "core/variables.h"

namespace kxcore {
namespace {

std::wstring WithoutTrailingSeparator(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

// The logged texts of one kind, each once (the log may repeat a folder or a key).
std::vector<std::wstring> Unique(const UninstallRun& run, int kind) {
  std::vector<std::wstring> texts;
  for (const UninstallRecord& record : run.records) {
    if (record.kind != kind) continue;
    std::wstring text = kind == KX_LOG_FOLDER ? WithoutTrailingSeparator(record.text) : record.text;
    if (!text.empty()) texts.push_back(std::move(text));
  }
  return WithoutRepeats(std::move(texts));
}

size_t Depth(const std::wstring& path) {
  return static_cast<size_t>(std::count_if(path.begin(), path.end(), [](wchar_t c) { return c == L'\\' || c == L'/'; }));
}

void DeepestFirst(std::vector<std::wstring>* paths) {
  std::vector<std::pair<size_t, std::wstring>> byDepth;
  byDepth.reserve(paths->size());
  for (std::wstring& path : *paths) byDepth.emplace_back(Depth(path), std::move(path));
  std::stable_sort(byDepth.begin(), byDepth.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (size_t i = 0; i < byDepth.size(); ++i) (*paths)[i] = std::move(byDepth[i].second);
}

void Report(KxUninstallStepCallback callback, int step, int kind, const std::wstring& text) {
  if (callback) callback(step, kind, text.c_str());
}

bool IsGone(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

void ScheduleAtRestart(UninstallRun* run, const std::wstring& path) {
  if (!run->scheduledSet.insert(path).second) return;
  // The start-up rename list, where Windows lacks MoveFileEx's delayed moves,
  // is the file the script variable WIN names.
  std::wstring renameList;
  GetVariable(L"WIN", &renameList);
  MoveFileOnRestart(path.c_str(), nullptr, renameList.c_str());
  LogLine(L"Deleted at the next restart: %ls", path.c_str());
  run->scheduled.push_back(path);
}

// What a folder holds besides what goes at restart and the log.
enum class FolderState { Missing, Empty, OnlyLeavingItems, HoldsOtherItems };

FolderState Inspect(const UninstallRun& run, const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!search) return FolderState::Missing;
  bool anything = false;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = folder + L"\\" + name;
    bool leaving = run.scheduledSet.count(path) || run.leavingSet.count(path) || SamePath(path, run.logPath) ||
                   SamePath(path, run.uninstallerPath);
    if (!leaving) return FolderState::HoldsOtherItems;
    anything = true;
  } while (FindNextFileW(search.get(), &found));
  return anything ? FolderState::OnlyLeavingItems : FolderState::Empty;
}

}  // namespace

bool ParseRegistryRecord(const std::wstring& text, bool isValue, HKEY* root, std::wstring* key, std::wstring* name) {
  name->clear();
  // The record's syntax is portable (core/uninstall_scope_rules.h).
  RegistryRoot which = RegistryRoot::kLocalMachine;
  std::u16string_view keyText, nameText;
  if (!SplitRegistryRecord(Utf16View(text), isValue, &which, &keyText, &nameText, ComparePathsUtf16)) return false;
  static const HKEY kRoots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS};
  *root = kRoots[static_cast<int>(which)];
  *key = WideText(keyText);
  *name = WideText(nameText);
  return true;
}

int RemoveLoggedFiles(UninstallRun* run, KxUninstallStepCallback callback) {
  for (const std::wstring& file : Unique(*run, KX_LOG_FILE)) {
    // The log and the running uninstaller go in the last step.
    if (SamePath(file, run->logPath) || SamePath(file, run->uninstallerPath)) continue;
    Report(callback, KX_STEP_FILES, KX_LOG_FILE, file);
    DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileW(file.c_str()))
      LogLine(L"File deleted: %ls", file.c_str());
    else if (!IsGone(GetLastError()))
      ScheduleAtRestart(run, file);
  }
  return 0;
}

int RemoveLoggedFolders(UninstallRun* run, KxUninstallStepCallback callback) {
  std::vector<std::wstring> folders = Unique(*run, KX_LOG_FOLDER);
  DeepestFirst(&folders);
  for (const std::wstring& folder : folders) {
    Report(callback, KX_STEP_FOLDERS, KX_LOG_FOLDER, folder);
    switch (Inspect(*run, folder)) {
      case FolderState::Empty:
        if (RemoveDirectoryW(folder.c_str()))
          LogLine(L"Folder removed: %ls", folder.c_str());
        else if (GetLastError() == ERROR_SHARING_VIOLATION)
          ScheduleAtRestart(run, folder);
        break;
      case FolderState::OnlyLeavingItems:
        if (run->leavingSet.insert(folder).second) run->leavingFolders.push_back(folder);
        break;
      case FolderState::HoldsOtherItems:
        LogLine(L"Folder kept, it holds other files: %ls", folder.c_str());
        break;
      case FolderState::Missing:
        break;
    }
  }
  return 0;
}

int RemoveLoggedValues(UninstallRun* run, KxUninstallStepCallback callback) {
  int result = 0;
  for (const std::wstring& record : Unique(*run, KX_LOG_REGVALUE)) {
    HKEY root;
    std::wstring key, name;
    if (!ParseRegistryRecord(record, true, &root, &key, &name)) continue;
    Report(callback, KX_STEP_REGVALUES, KX_LOG_REGVALUE, record);
    RegKey opened;
    HKEY handle = nullptr;
    LSTATUS status = RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, &handle);
    opened.reset(status == ERROR_SUCCESS ? handle : nullptr);
    if (status == ERROR_FILE_NOT_FOUND) continue;
    if (status == ERROR_SUCCESS) status = RegDeleteValueW(opened.get(), name.c_str());
    if (status == ERROR_SUCCESS) LogLine(L"Registry value deleted: %ls", record.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      LogLine(L"Error %ld: the registry value %ls could not be deleted", static_cast<long>(status), record.c_str());
      if (result == 0) result = status;
    }
  }
  return result;
}

int RemoveLoggedKeys(UninstallRun* run, KxUninstallStepCallback callback) {
  std::vector<std::wstring> keys = Unique(*run, KX_LOG_REGKEY);
  DeepestFirst(&keys);
  for (const std::wstring& record : keys) {
    HKEY root;
    std::wstring key, name;
    if (!ParseRegistryRecord(record, false, &root, &key, &name)) continue;
    Report(callback, KX_STEP_REGKEYS, KX_LOG_REGKEY, record);
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) continue;
    RegKey opened(handle);
    DWORD subkeys = 0, values = 0;
    bool empty = RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                  nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                 subkeys == 0 && values == 0;
    opened.reset();
    if (!empty)
      LogLine(L"Registry key kept, it holds other values or keys: %ls", record.c_str());
    else if (RegDeleteKeyW(root, key.c_str()) == ERROR_SUCCESS)
      LogLine(L"Registry key deleted: %ls", record.c_str());
  }
  return 0;
}

int RemoveLogFile(UninstallRun* run, KxUninstallStepCallback callback) {
  if (run->logPath.empty()) return 0;
  Report(callback, KX_STEP_LOG, KX_LOG_FILE, run->logPath);
  SetFileAttributesW(run->logPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(run->logPath.c_str()))
    LogLine(L"Uninstall log deleted: %ls", run->logPath.c_str());
  else if (!IsGone(GetLastError()))
    ScheduleAtRestart(run, run->logPath);
  if (!run->uninstallerPath.empty()) ScheduleAtRestart(run, run->uninstallerPath);
  for (const std::wstring& folder : run->leavingFolders) ScheduleAtRestart(run, folder);
  return 0;
}

}  // namespace kxcore
