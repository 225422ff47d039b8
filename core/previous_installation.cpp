#include "core/previous_installation.h"

#include <windows.h>

#include <algorithm>
#include <functional>

#include "base/handle_guard.h"
#include "base/long_path.h"
#include "base/path_list.h"
#include "base/run_log.h"
#include "core/declared_scope.h"
#include "core/pending_deletions.h"
#include "core/uninstall_steps.h"

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

// A string value's text; false when it is missing or no string.
bool ReadText(HKEY root, const std::wstring& key, const wchar_t* name, std::wstring* text) {
  DWORD type = 0, size = 0;
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, nullptr, &size) !=
      ERROR_SUCCESS)
    return false;
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, data.data(),
                   &size) != ERROR_SUCCESS)
    return false;
  *text = data.data();
  return true;
}

// What a declarations record (kinds 4 to 7) undoes is still there: the PATH
// entry in Path, the variable with the value setup gave it, the extension
// naming the ProgID or the ProgID's key.
bool DeclaredEffectExists(const UninstallRecord& record) {
  std::wstring rootAndKey, first, second, unused;
  HKEY root;
  std::wstring key;
  if (!SplitDeclaredRecord(record.text, record.kind, &rootAndKey, &first, &second) ||
      !ParseRegistryRecord(rootAndKey, false, &root, &key, &unused))
    return false;
  std::wstring text;
  switch (record.kind) {
    case kRecordPathEntry:
      return ReadText(root, key, L"Path", &text) && PathListHolds(text.c_str(), first.c_str());
    case kRecordVariable:
      return ReadText(root, key, first.c_str(), &text) && text == second;
    default: {
      if (ReadText(root, key, nullptr, &text) &&
          CompareStringOrdinal(text.c_str(), -1, first.c_str(), -1, TRUE) == CSTR_EQUAL)
        return true;
      const size_t slash = key.rfind(L'\\');
      if (slash == std::wstring::npos) return false;
      HKEY opened = nullptr;
      if (RegOpenKeyExW(root, (key.substr(0, slash + 1) + first).c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return false;
      RegCloseKey(opened);
      return true;
    }
  }
}

bool StillExists(const UninstallRecord& record) {
  if (record.kind == kRecordFile || record.kind == kRecordFolder) {
    DWORD attributes = GetFileAttributesW(Win32Path(record.text.c_str()).get());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == (record.kind == kRecordFolder);
  }
  // The declarations' records of the earlier run are kept while what they
  // undo is there (setup named them to the library, as the uninstaller will:
  // RecordInScope keeps only those the new package declares too).
  if (record.kind >= kRecordPathEntry && record.kind <= kRecordAssociationTaken) return DeclaredEffectExists(record);
  if (record.kind != kRecordRegistryKey && record.kind != kRecordRegistryValue) return false;
  HKEY root;
  std::wstring key, name;
  if (!ParseRegistryRecord(record.text, record.kind == kRecordRegistryValue, &root, &key, &name)) return false;
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return false;
  RegKey guard(opened);
  return record.kind == kRecordRegistryKey ||
         RegQueryValueExW(opened, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// "<key>" "<ProgID>" of an association record of either kind, lower case:
// what a plain and a taken association of the same file type share.
std::wstring AssociationIdentity(const UninstallRecord& record) {
  std::wstring key, progId, owner;
  if ((record.kind != kRecordAssociation && record.kind != kRecordAssociationTaken) ||
      !SplitDeclaredRecord(record.text, record.kind, &key, &progId, &owner))
    return std::wstring();
  std::wstring identity = key + L"|" + progId;
  CharLowerBuffW(&identity[0], static_cast<DWORD>(identity.size()));
  return identity;
}

// This run's association records (a few: one a declared file type), which
// an earlier run's are merged with.
std::vector<UninstallRecord> CurrentAssociations() {
  std::vector<UninstallRecord> current;
  ForEachUninstallRecord([&current](int kind, const std::wstring& text) {
    if (kind == kRecordAssociation || kind == kRecordAssociationTaken) current.push_back({kind, text});
    return true;
  });
  return current;
}

// One record per file type: a taken association (which knows the earlier
// owner) wins over a plain one of the same extension and ProgID, and this
// run's taken one over the earlier run's (the extension's latest owner
// before us). False when the earlier record loses; the run's records that
// lose to it go to superseded.
bool WinsOverCurrent(const UninstallRecord& earlier, const std::vector<UninstallRecord>& current,
                     std::vector<UninstallRecord>* superseded) {
  const std::wstring identity = AssociationIdentity(earlier);
  if (identity.empty()) return true;
  bool drop = false;
  for (const UninstallRecord& now : current) {
    if (AssociationIdentity(now) != identity || now == earlier) continue;
    if (now.kind == kRecordAssociationTaken)
      drop = true;
    else if (earlier.kind == kRecordAssociationTaken)
      superseded->push_back(now);
  }
  return !drop;
}

bool Survives(const UninstallRecord& record, const UninstallScope& scope) {
  return RecordInScope(record, scope) && StillExists(record);
}

size_t Depth(const std::wstring& path) { return static_cast<size_t>(std::count(path.begin(), path.end(), L'\\')); }

// The earlier installation's log, read when the run began: its records wait
// in a temporary file (a log may name a million files).
RecordSpill g_earlier;

// Whether a path scheduled for deletion is needed by the new installation:
// it lies in the package's scope and is the installation folder, a path the
// log names (the uninstaller and the log included), or a folder holding one.
// The log's paths are read back for each path asked, not held: few paths
// wait for a restart, and a log may name a million.
std::function<bool(const std::wstring&)> NeededPaths(const std::wstring& folder, const UninstallScope& scope) {
  std::vector<std::wstring> fixed = {folder, folder + L"\\" + kUninstallerName, folder + L"\\" + kUninstallLogName};
  return [fixed, scope](const std::wstring& path) {
    if (!RecordInScope({kRecordFolder, path}, scope) && !RecordInScope({kRecordFile, path}, scope)) return false;
    if (std::any_of(fixed.begin(), fixed.end(), [&](const std::wstring& n) { return IsWithin(n, path); })) return true;
    bool found = false;
    ForEachUninstallRecord([&](int kind, const std::wstring& text) {
      found = (kind == kRecordFile || kind == kRecordFolder) && IsWithin(text, path);
      return !found;
    });
    return found;
  };
}

}  // namespace

std::vector<UninstallRecord> SurvivingRecords(const std::vector<UninstallRecord>& earlier,
                                              const UninstallScope& scope) {
  std::vector<UninstallRecord> kept;
  for (const UninstallRecord& record : earlier)
    if (Survives(record, scope)) kept.push_back(record);
  return kept;
}

void RememberEarlierInstallation(const std::wstring& installFolder) {
  ReleaseSpill(&g_earlier);
  const std::wstring folder = Normalized(installFolder);
  if (folder.empty()) return;
  const std::wstring earlierLog = folder + L"\\" + kUninstallLogName;
  // Record by record into the temporary file: a damaged log turns out so
  // only at its end, and then contributes nothing.
  DWORD error = 0;
  const LogFileStatus status = ReadUninstallLogStream(earlierLog, [&error](int kind, std::wstring&& text) {
    if (error == 0) error = AppendSpilledRecord(&g_earlier, kind, text);
  });
  if (status != LogFileStatus::kOk || error != 0) ReleaseSpill(&g_earlier);
  switch (status) {
    case LogFileStatus::kOk:
      if (error != 0)
        LogLine(L"Error %lu: the earlier uninstall log %ls could not be kept: none of its records are kept", error,
                earlierLog.c_str());
      else
        LogLine(L"Earlier uninstall log %ls: %u records", earlierLog.c_str(), static_cast<unsigned>(g_earlier.count));
      break;
    case LogFileStatus::kMissing:
      break;
    case LogFileStatus::kUnreadable:
    case LogFileStatus::kDamaged:
      LogLine(L"Earlier uninstall log %ls is damaged: none of its records are kept", earlierLog.c_str());
      break;
  }
}

void AdoptEarlierInstallation(const std::wstring& installFolder, const UninstallScope& scope,
                              const std::wstring& renameList) {
  const std::wstring folder = Normalized(installFolder);
  if (folder.empty()) return;
  if (g_earlier.count != 0) {
    // The surviving records go to a temporary file of their own, in their
    // order, and from there in front of the run's records.
    const std::vector<UninstallRecord> current = CurrentAssociations();
    std::vector<UninstallRecord> superseded;
    RecordSpill kept;
    DWORD error = 0;
    const bool intact = ForEachSpilledRecord(g_earlier, [&](int kind, const std::wstring& text) {
      const UninstallRecord record = {kind, text};
      if (Survives(record, scope) && WinsOverCurrent(record, current, &superseded))
        error = AppendSpilledRecord(&kept, kind, text);
      return error == 0;
    });
    if (!intact || error != 0) {
      // The run's own log is whole; only the earlier records are lost.
      LogLine(L"Error %lu: the earlier uninstall log's records could not be read back: none of them are kept",
              error != 0 ? error : static_cast<DWORD>(ERROR_FILE_CORRUPT));
      ReleaseSpill(&kept);
    } else {
      RemoveUninstallRecords(superseded);
      const size_t count = kept.count;
      PrependUninstallSpill(&kept);
      LogLine(L"Kept %u records of the earlier uninstall log", static_cast<unsigned>(count));
    }
  }

  // A folder that was to go with an uninstall was the package's; it is again.
  const auto needed = NeededPaths(folder, scope);
  std::vector<UninstallRecord> rescued;
  for (const std::wstring& path : PendingDeletions(renameList)) {
    if (!needed(path)) continue;
    DWORD attributes = GetFileAttributesW(Win32Path(path.c_str()).get());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    UninstallRecord record = {kRecordFolder, Normalized(path)};
    if (std::find(rescued.begin(), rescued.end(), record) == rescued.end()) rescued.push_back(record);
  }
  // Those the log names already stay where they are (one pass over the log,
  // and only when there is anything to rescue).
  if (!rescued.empty()) {
    ForEachUninstallRecord([&rescued](int kind, const std::wstring& text) {
      rescued.erase(std::remove(rescued.begin(), rescued.end(), UninstallRecord{kind, text}), rescued.end());
      return !rescued.empty();
    });
  }
  std::stable_sort(rescued.begin(), rescued.end(), [](const UninstallRecord& a, const UninstallRecord& b) {
    return Depth(a.text) < Depth(b.text);
  });
  PrependUninstallRecords(rescued);
}

void KeepNewInstallationAtRestart(const std::wstring& installFolder, const UninstallScope& scope,
                                  const std::wstring& renameList) {
  const std::wstring folder = Normalized(installFolder);
  if (folder.empty()) return;
  for (const std::wstring& path : WithdrawPendingDeletions(NeededPaths(folder, scope), renameList))
    LogLine(L"Pending deletion at restart withdrawn: %ls", path.c_str());
}

}  // namespace kxcore
