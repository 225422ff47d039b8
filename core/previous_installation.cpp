#include "previous_installation.h"

#include <windows.h>

#include <algorithm>

#include "handle_guard.h"
#include "pending_deletions.h"
#include "run_log.h"
#include "uninstall_steps.h"

namespace kxcore {
namespace {

std::wstring Normalized(std::wstring path) {
  std::replace(path.begin(), path.end(), L'/', L'\\');
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// path is folder or lies below it.
bool IsWithin(const std::wstring& path, const std::wstring& folder) {
  const std::wstring p = Normalized(path), f = Normalized(folder);
  if (f.empty()) return false;
  if (p.size() == f.size()) return SameText(p, f);
  const std::wstring prefix = f.back() == L'\\' ? f : f + L'\\';
  return p.size() > prefix.size() && SameText(p.substr(0, prefix.size()), prefix);
}

bool StillExists(const UninstallRecord& record) {
  if (record.kind == kRecordFile || record.kind == kRecordFolder) {
    DWORD attributes = GetFileAttributesW(record.text.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == (record.kind == kRecordFolder);
  }
  HKEY root;
  std::wstring key, name;
  ParseRegistryRecord(record.text, record.kind == kRecordRegistryValue, &root, &key, &name);
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return false;
  RegKey guard(opened);
  return record.kind == kRecordRegistryKey ||
         RegQueryValueExW(opened, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

size_t Depth(const std::wstring& path) { return static_cast<size_t>(std::count(path.begin(), path.end(), L'\\')); }

}  // namespace

std::vector<UninstallRecord> SurvivingRecords(const std::vector<UninstallRecord>& earlier,
                                              const UninstallScope& scope) {
  std::vector<UninstallRecord> kept;
  for (const UninstallRecord& record : earlier)
    if (RecordInScope(record, scope) && StillExists(record)) kept.push_back(record);
  return kept;
}

void TakeOverPreviousInstallation(const std::wstring& installFolder, const UninstallScope& scope,
                                  const std::wstring& renameList) {
  const std::wstring folder = Normalized(installFolder);
  if (folder.empty()) return;
  const std::wstring earlierLog = folder + L"\\" + kUninstallLogName;
  std::vector<UninstallRecord> earlier;
  switch (ReadUninstallLog(earlierLog, &earlier)) {
    case LogFileStatus::kOk: {
      std::vector<UninstallRecord> kept = SurvivingRecords(earlier, scope);
      PrependUninstallRecords(kept);
      LogLine(L"Earlier uninstall log %ls: %u of its %u records kept", earlierLog.c_str(),
              static_cast<unsigned>(kept.size()), static_cast<unsigned>(earlier.size()));
      break;
    }
    case LogFileStatus::kMissing:
      break;
    case LogFileStatus::kUnreadable:
    case LogFileStatus::kDamaged:
      LogLine(L"Earlier uninstall log %ls is damaged: none of its records are kept", earlierLog.c_str());
      break;
  }

  // What the new installation needs: the paths its log names (the
  // uninstaller and the log itself among them) and the folders holding them.
  std::vector<std::wstring> needed = {folder, folder + L"\\" + kUninstallerName, earlierLog};
  for (const UninstallRecord& record : UninstallLogRecords())
    if (record.kind == kRecordFile || record.kind == kRecordFolder) needed.push_back(Normalized(record.text));
  auto isNeeded = [&](const std::wstring& path) {
    if (!RecordInScope({kRecordFolder, path}, scope) && !RecordInScope({kRecordFile, path}, scope)) return false;
    return std::any_of(needed.begin(), needed.end(),
                       [&](const std::wstring& n) { return IsWithin(n, path); });
  };
  std::vector<std::wstring> withdrawn = WithdrawPendingDeletions(isNeeded, renameList);

  // A folder that was to go with an uninstall was the package's; it is again.
  std::vector<UninstallRecord> rescued;
  const std::vector<UninstallRecord> records = UninstallLogRecords();
  for (const std::wstring& path : withdrawn) {
    LogLine(L"Pending deletion at restart withdrawn: %ls", path.c_str());
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    UninstallRecord record = {kRecordFolder, Normalized(path)};
    if (std::find(records.begin(), records.end(), record) == records.end() &&
        std::find(rescued.begin(), rescued.end(), record) == rescued.end())
      rescued.push_back(record);
  }
  std::stable_sort(rescued.begin(), rescued.end(), [](const UninstallRecord& a, const UninstallRecord& b) {
    return Depth(a.text) < Depth(b.text);
  });
  PrependUninstallRecords(rescued);
}

}  // namespace kxcore
