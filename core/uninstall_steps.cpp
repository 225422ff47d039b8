#include "core/uninstall_steps.h"

#include <algorithm>
#include <functional>
#include <map>

#include "base/handle_guard.h"
#include "base/long_path.h"
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

// Every text of a temporary file of paths, in order, a chunk at a time,
// until visit returns false. False when the file cannot be read back.
bool ForEachSpilledPath(const RecordSpill& spill, const std::function<bool(std::wstring& path)>& visit) {
  SpillReader reader;
  StartSpillForward(&spill, &reader);
  std::wstring path;
  const BYTE* data = nullptr;
  size_t bytes = 0;
  SpillRead read;
  while ((read = SpillNext(&reader, &data, &bytes)) == SpillRead::kRecord) {
    path.assign(reinterpret_cast<const wchar_t*>(data), bytes / sizeof(wchar_t));
    if (!visit(path)) break;
  }
  ReleaseSpillReader(&reader);
  return read != SpillRead::kDamaged;
}

// Every logged folder without trailing separators, in the log's order: those
// of records, then those of the temporary file, until visit returns false.
// False when the file cannot be read back.
bool ForEachFolder(const UninstallRun& run, const std::function<bool(std::wstring& folder)>& visit) {
  for (const UninstallRecord& record : run.records) {
    if (record.kind != KX_LOG_FOLDER) continue;
    std::wstring folder = WithoutTrailingSeparator(record.text);
    if (!folder.empty() && !visit(folder)) return true;
  }
  return ForEachSpilledPath(run.folders, [&visit](std::wstring& path) {
    std::wstring folder = WithoutTrailingSeparator(std::move(path));
    return folder.empty() || visit(folder);
  });
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
  FindHandle search(FindFirstFileW(Win32Path((folder + L"\\*").c_str()).get(), &found));
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

enum class Removal {
  kRemoved,
  kGone,      // nothing of that name any more
  kOtherKind, // a folder where a file was logged, or the other way round: not this record's
  kOutside,   // the opened object lies outside what the uninstaller may remove
  kNotEmpty,  // a folder that holds something after all
  kFailed     // *error says why (in use, no rights)
};

void LogReason(const wchar_t* what, const std::wstring& path, DWORD error) {
  wchar_t reason[256];
  SystemErrorText(error, reason, sizeof(reason) / sizeof(reason[0]));
  LogLine(L"Error %lu: %ls %ls: %ls", static_cast<unsigned long>(error), what, path.c_str(), reason);
}

// Opens path without following a link at its last level (a link further up
// is followed, and then shows in the opened object's path), checks the object
// against the scope and deletes it through the handle, so that what was
// checked is what goes.
Removal RemoveThroughHandle(const UninstallRun& run, const std::wstring& path, int kind, DWORD* error) {
  *error = 0;
  if (g_beforeOpenForRemoval) g_beforeOpenForRemoval(path);
  FileHandle handle(CreateFileW(Win32Path(path.c_str()).get(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) {
    *error = GetLastError();
    return IsGone(*error) ? Removal::kGone : Removal::kFailed;
  }
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
    *error = GetLastError();
    return Removal::kFailed;
  }
  const bool link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  const bool folder = (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!link && folder != (kind == KX_LOG_FOLDER)) return Removal::kOtherKind;
  // A link opened as itself has its own path; anything reached through a
  // link further up has the path it really lies at.
  std::wstring opened;
  if (!OpenedObjectPath(handle.get(), path, &opened) || !OpenedObjectInScope(kind, opened, run.scope)) {
    LogLine(L"Left alone, it leads outside the installation: %ls (%ls)", path.c_str(), opened.c_str());
    return Removal::kOutside;
  }
  if (!link && (tag.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    // Zero times leave the times as they are.
    FILE_BASIC_INFO basic = {};
    const DWORD attributes = tag.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(handle.get(), FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO dispose = {TRUE};
  if (SetFileInformationByHandle(handle.get(), FileDispositionInfo, &dispose, sizeof dispose)) {
    if (link) LogLine(L"Link removed, not followed: %ls", path.c_str());
    return Removal::kRemoved;
  }
  *error = GetLastError();
  return *error == ERROR_DIR_NOT_EMPTY ? Removal::kNotEmpty : Removal::kFailed;
}

bool IsLink(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(Win32Path(path.c_str()).get());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

void (*g_beforeOpenForRemoval)(const std::wstring& path) = nullptr;

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

namespace {

void RemoveLoggedFile(UninstallRun* run, KxUninstallStepCallback callback, const std::wstring& file) {
    // The log and the running uninstaller go in the last step.
    if (SamePath(file, run->logPath) || SamePath(file, run->uninstallerPath)) return;
    Report(callback, KX_STEP_FILES, KX_LOG_FILE, file);
    DWORD error = 0;
    switch (RemoveThroughHandle(*run, file, KX_LOG_FILE, &error)) {
      case Removal::kRemoved:
        LogLine(L"File deleted: %ls", file.c_str());
        break;
      case Removal::kFailed:
        LogReason(L"the file is deleted at the next restart, not now:", file, error);
        ScheduleAtRestart(run, file);
        break;
      default:
        break;
    }
}

}  // namespace

int RemoveLoggedFiles(UninstallRun* run, KxUninstallStepCallback callback) {
  for (const std::wstring& file : Unique(*run, KX_LOG_FILE)) RemoveLoggedFile(run, callback, file);
  // Those read from the log, in its order, a chunk at a time. A file the log
  // names twice meets nothing the second time.
  const bool readBack = ForEachSpilledPath(run->files, [run, callback](std::wstring& file) {
    RemoveLoggedFile(run, callback, file);
    return true;
  });
  if (!readBack) {
    LogLine(L"Error: the uninstall log's files could not be read back; the rest stay");
    return ERROR_FILE_CORRUPT;
  }
  return 0;
}

namespace {

void RemoveLoggedFolder(UninstallRun* run, KxUninstallStepCallback callback, const std::wstring& folder) {
  Report(callback, KX_STEP_FOLDERS, KX_LOG_FOLDER, folder);
  DWORD error = 0;
  // A link goes as itself, whatever its target holds.
  if (IsLink(folder)) {
    RemoveThroughHandle(*run, folder, KX_LOG_FOLDER, &error);
    return;
  }
  switch (Inspect(*run, folder)) {
    case FolderState::Empty:
      switch (RemoveThroughHandle(*run, folder, KX_LOG_FOLDER, &error)) {
        case Removal::kRemoved:
          LogLine(L"Folder removed: %ls", folder.c_str());
          break;
        case Removal::kFailed:
          LogReason(L"the folder could not be removed:", folder, error);
          if (error == ERROR_SHARING_VIOLATION) ScheduleAtRestart(run, folder);
          break;
        default:
          break;
      }
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

}  // namespace

int RemoveLoggedFolders(UninstallRun* run, KxUninstallStepCallback callback, size_t slice) {
  if (slice == 0) slice = kFolderSlice;
  // Deepest first, and within one depth in the log's order, each folder the
  // first time it comes: one depth at a time, and of a depth one slice of
  // folders at a time, read from the temporary file again for each. A log
  // of a million folders holds a slice in memory, not its folders.
  std::map<size_t, size_t, std::greater<size_t>> depths;  // depth: folders of that depth
  if (!ForEachFolder(*run, [&depths](std::wstring& folder) {
        ++depths[Depth(folder)];
        return true;
      })) {
    LogLine(L"Error: the uninstall log's folders could not be read back; they stay");
    return ERROR_FILE_CORRUPT;
  }
  for (const auto& [depth, count] : depths) {
    for (size_t first = 0; first < count; first += slice) {
      const size_t last = count - first < slice ? count : first + slice;
      // The slice's folders without their repeats; then those a folder of
      // this depth before the slice repeats go too.
      std::vector<std::wstring> folders;
      size_t index = 0;
      ForEachFolder(*run, [&](std::wstring& folder) {
        if (Depth(folder) != depth) return true;
        if (index >= first) folders.push_back(std::move(folder));
        return ++index < last;
      });
      folders = WithoutRepeats(std::move(folders));
      std::vector<size_t> sorted(folders.size());
      for (size_t i = 0; i < sorted.size(); ++i) sorted[i] = i;
      std::sort(sorted.begin(), sorted.end(),
                [&folders](size_t a, size_t b) { return ComparePaths(folders[a], folders[b]) < 0; });
      std::vector<bool> repeated(folders.size());
      index = 0;
      if (first != 0) {
        ForEachFolder(*run, [&](std::wstring& folder) {
          if (Depth(folder) != depth) return true;
          const auto at = std::lower_bound(sorted.begin(), sorted.end(), folder, [&folders](size_t a, const std::wstring& b) {
            return ComparePaths(folders[a], b) < 0;
          });
          if (at != sorted.end() && SamePath(folders[*at], folder)) repeated[*at] = true;
          return ++index < first;
        });
      }
      for (size_t i = 0; i < folders.size(); ++i)
        if (!repeated[i]) RemoveLoggedFolder(run, callback, folders[i]);
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
  SetFileAttributesW(Win32Path(run->logPath.c_str()).get(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(Win32Path(run->logPath.c_str()).get()))
    LogLine(L"Uninstall log deleted: %ls", run->logPath.c_str());
  else if (!IsGone(GetLastError()))
    ScheduleAtRestart(run, run->logPath);
  if (!run->uninstallerPath.empty()) ScheduleAtRestart(run, run->uninstallerPath);
  for (const std::wstring& folder : run->leavingFolders) ScheduleAtRestart(run, folder);
  return 0;
}

}  // namespace kxcore
