// The uninstall log of this run, and writing it with the uninstaller.
#include "core/decimal_text.h"
#include "core/uninstall_log.h"

#include <algorithm>
#include <unordered_set>

#include "core/srw_guard.h"

#include "core/module_files.h"
#include "core/uninstall_scope.h"

namespace kxcore {
namespace {

// AddUninstLog may be called from any thread (the progress box has its own).
struct RunLog {
  SRWLOCK lock = SRWLOCK_INIT;
  std::vector<UninstallRecord> records;
};

RunLog& Log() {
  static RunLog log;
  return log;
}


void AddOnce(int kind, const std::wstring& text) {
  RunLog& log = Log();
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  for (const UninstallRecord& record : log.records)
    if (record.kind == kind && record.text == text) return;
  log.records.push_back({kind, text});
}

}  // namespace

void BeginUninstallLog() { DiscardUninstallLog(); }

void AddUninstallRecord(int kind, const wchar_t* text) {
  if (kind < kRecordFile || kind > kRecordKindLast || !text || !*text) return;
  // The uninstaller accepts only normal paths (what it may remove is judged
  // on them), so "C:/dest" from /D= is recorded as "C:\dest".
  std::wstring recorded = kind == kRecordFile || kind == kRecordFolder ? NormalRecordPath(text) : std::wstring(text);
  RunLog& log = Log();
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  log.records.push_back({kind, std::move(recorded)});
}

void PrependUninstallRecords(const std::vector<UninstallRecord>& records) {
  RunLog& log = Log();
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  // Hashed: an earlier installation of a hundred thousand files is joined
  // in linear time, not in the square of its size.
  auto key = [](const UninstallRecord& record) { return DecimalText(record.kind) + L'|' + record.text; };
  std::unordered_set<std::wstring> seen;
  seen.reserve(log.records.size() + records.size());
  for (const UninstallRecord& record : log.records) seen.insert(key(record));
  std::vector<UninstallRecord> joined;
  joined.reserve(records.size() + log.records.size());
  for (const UninstallRecord& record : records)
    if (seen.insert(key(record)).second) joined.push_back(record);
  joined.insert(joined.end(), log.records.begin(), log.records.end());
  log.records.swap(joined);
}

void RemoveUninstallRecords(const std::vector<UninstallRecord>& records) {
  if (records.empty()) return;
  RunLog& log = Log();
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  log.records.erase(std::remove_if(log.records.begin(), log.records.end(),
                                   [&](const UninstallRecord& record) {
                                     return std::find(records.begin(), records.end(), record) != records.end();
                                   }),
                    log.records.end());
}

void DiscardUninstallLog() {
  RunLog& log = Log();
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  log.records.clear();
  log.records.shrink_to_fit();
}

std::vector<UninstallRecord> UninstallLogRecords() {
  RunLog& log = Log();
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  return log.records;
}

DWORD CommitUninstallLog(const std::wstring& destination, const std::wstring& uninstallerSource) {
  std::wstring folder = destination;
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  // An empty destination would put both files at the root of the current drive.
  if (folder.empty()) return ERROR_INVALID_NAME;
  const std::wstring uninstaller = folder + L"\\" + kUninstallerName;
  const std::wstring logFile = folder + L"\\" + kUninstallLogName;

  std::string program;
  if (!ReadWholeFile(uninstallerSource, &program)) {
    DWORD error = GetLastError();
    return error ? error : ERROR_READ_FAULT;
  }
  // Recorded before they are written, like every other file, so that a log
  // that exists always names itself and its uninstaller.
  AddOnce(kRecordFile, NormalRecordPath(uninstaller));
  AddOnce(kRecordFile, NormalRecordPath(logFile));

  DWORD error = WriteFileReplacing(uninstaller, program);
  if (error != 0) return error;
  return WriteFileReplacing(logFile, FormatUninstallLog(UninstallLogRecords()));
}

}  // namespace kxcore
