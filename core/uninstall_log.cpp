// The uninstall log of this run, and writing it with the uninstaller.
#include "core/uninstall_log.h"

#include <algorithm>
#include <memory>

#include "7zCrc.h"
#include "base/handle_guard.h"
#include "base/record_spill.h"
#include "core/module_files.h"
#include "core/srw_guard.h"
#include "core/uninstall_log_format.h"
#include "core/uninstall_scope.h"
#include "core/utf16_text.h"

static_assert(kxcore::kRecordKindLast == kxcore::kLastLogRecordKind, "the log's readers know every kind");

namespace kxcore {
namespace {

// The records go to temporary files as they come (base/record_spill.h), so
// that an installation of a million files holds a buffer of its log, not
// the log: one spill for the run's own records, and one for each batch an
// earlier installation put in front of them. Each record is its kind (one
// byte) and its text's UTF-16 units.
struct RunLog {
  SRWLOCK lock = SRWLOCK_INIT;
  RecordSpill own;
  // Put in front of the run's records, the latest batch first.
  std::vector<std::unique_ptr<RecordSpill>> front;
  DWORD lost = 0;  // a record that could not be kept: the log cannot be written
};

RunLog& Log() {
  static RunLog log;
  return log;
}

DWORD Append(RecordSpill* spill, int kind, std::wstring_view text) {
  std::string bytes(1 + text.size() * sizeof(wchar_t), '\0');
  bytes[0] = static_cast<char>(kind);
  if (!text.empty()) memcpy(&bytes[1], text.data(), text.size() * sizeof(wchar_t));
  return SpillAppend(spill, bytes.data(), bytes.size());
}

// Reads one spill in order. False when it cannot be read back whole.
bool ReadSpill(const RecordSpill& spill, const std::function<bool(int, const std::wstring&)>& visit, bool* stop) {
  SpillReader reader;
  StartSpillForward(&spill, &reader);
  std::wstring text;
  bool intact = true;
  for (;;) {
    const BYTE* data = nullptr;
    size_t bytes = 0;
    SpillRead read = SpillNext(&reader, &data, &bytes);
    if (read == SpillRead::kEnd) break;
    if (read == SpillRead::kDamaged || bytes == 0 || (bytes - 1) % sizeof(wchar_t) != 0 || data[0] > kRecordKindLast) {
      intact = false;
      break;
    }
    text.resize((bytes - 1) / sizeof(wchar_t));
    if (!text.empty()) memcpy(&text[0], data + 1, bytes - 1);
    if (!visit(data[0], text)) {
      *stop = true;
      break;
    }
  }
  ReleaseSpillReader(&reader);
  return intact;
}

// Every record under the lock, in the log's order.
bool ForEachLocked(const RunLog& log, const std::function<bool(int, const std::wstring&)>& visit) {
  bool stop = false;
  for (const auto& batch : log.front) {
    if (!ReadSpill(*batch, visit, &stop)) return false;
    if (stop) return true;
  }
  return ReadSpill(log.own, visit, &stop);
}

// 64 bits of a record (FNV-1a over its kind and units): two records of a
// million share one by chance once in some ten million installations.
uint64_t RecordHash(int kind, std::wstring_view text) {
  uint64_t hash = 0xCBF29CE484222325ull;
  auto mix = [&hash](uint32_t value) {
    for (int i = 0; i < 2; ++i) {
      hash ^= (value >> (16 * i)) & 0xFFFF;
      hash *= 0x100000001B3ull;
    }
  };
  mix(static_cast<uint32_t>(kind));
  for (wchar_t unit : text) mix(static_cast<uint32_t>(unit));
  return hash;
}

// Writes the log as path's replacement, a chunk at a time: the header, every
// record, the trailer with their count and the CRC of all before it.
DWORD WriteLogFile(const RunLog& log, const std::wstring& path) {
  const std::wstring temporary = path + L".kxnew";
  DWORD error = 0;
  {
    FileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) return GetLastError();
    static const bool tablesReady = (CrcGenerateTable(), true);
    (void)tablesReady;
    UInt32 crc = CRC_INIT_VAL;
    size_t count = 0;
    std::string chunk;
    auto writeChunk = [&]() {
      crc = CrcUpdate(crc, chunk.data(), chunk.size());
      DWORD written = 0;
      if (!chunk.empty() && error == 0) {
        if (!WriteFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr))
          error = GetLastError();
        else if (written != chunk.size())
          error = ERROR_WRITE_FAULT;
      }
      chunk.clear();
    };
    AppendLogHeader(&chunk);
    const bool intact = ForEachLocked(log, [&](int kind, const std::wstring& text) {
      AppendLogRecord(kind, Utf16View(text), &chunk);
      ++count;
      if (chunk.size() >= kSpillChunkBytes) writeChunk();
      return error == 0;
    });
    if (error == 0 && !intact) error = ERROR_FILE_CORRUPT;
    writeChunk();
    AppendLogTrailerSum(count, CRC_GET_DIGEST(crc), &chunk);
    writeChunk();
    // The data must be on disk before the rename makes it the real file.
    if (error == 0 && !FlushFileBuffers(file.get())) error = GetLastError();
  }
  if (error == 0 && !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = GetLastError();
  if (error != 0) DeleteFileW(temporary.c_str());
  return error;
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
  DWORD error = Append(&log.own, kind, recorded);
  if (error != 0 && log.lost == 0) log.lost = error;
}

bool ForEachUninstallRecord(const std::function<bool(int kind, const std::wstring& text)>& visit) {
  RunLog& log = Log();
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  return ForEachLocked(log, visit);
}

size_t UninstallRecordCount() {
  RunLog& log = Log();
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  size_t count = log.own.count;
  for (const auto& batch : log.front) count += batch->count;
  return count;
}

void PrependUninstallRecords(const std::vector<UninstallRecord>& records) {
  if (records.empty()) return;
  RecordSpill list;
  for (const UninstallRecord& record : records) {
    const DWORD error = Append(&list, record.kind, record.text);
    if (error != 0) {
      ReleaseSpill(&list);
      RunLog& log = Log();
      SrwGuard guard(&log.lock, SrwGuard::kExclusive);
      if (log.lost == 0) log.lost = error;
      return;
    }
  }
  PrependUninstallSpill(&list);
}

void PrependUninstallSpill(RecordSpill* records, size_t sliceRecords) {
  if (sliceRecords == 0) sliceRecords = kPrependSliceRecords;
  RunLog& log = Log();
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  auto kept = std::make_unique<RecordSpill>();
  const size_t total = records->count;
  bool intact = true;
  DWORD error = 0;
  // One slice of the list at a time, in its order. A record of the slice
  // goes in when nothing the log holds, no record of the list before the
  // slice and none before it in the slice has its hash: the slice's hashes
  // are held, sorted, while the log and the list up to the slice are read
  // past them. A million earlier records then cost 2 MiB and a few reads of
  // temporary files, not 8 bytes a record of both.
  for (size_t first = 0; first < total && intact && error == 0; first += sliceRecords) {
    const size_t last = total - first < sliceRecords ? total : first + sliceRecords;
    std::vector<uint64_t> slice;
    slice.reserve(last - first);
    size_t index = 0;
    bool stop = false;
    intact = ReadSpill(*records,
                       [&](int kind, const std::wstring& text) {
                         if (index >= first) slice.push_back(RecordHash(kind, text));
                         return ++index < last;
                       },
                       &stop);
    if (!intact) break;
    std::sort(slice.begin(), slice.end());
    std::vector<bool> taken(slice.size());
    auto mark = [&](int kind, const std::wstring& text) {
      const uint64_t hash = RecordHash(kind, text);
      const auto at = std::lower_bound(slice.begin(), slice.end(), hash);
      if (at != slice.end() && *at == hash) taken[static_cast<size_t>(at - slice.begin())] = true;
    };
    intact = ForEachLocked(log, [&](int kind, const std::wstring& text) {
      mark(kind, text);
      return true;
    });
    if (!intact) break;
    index = 0;
    stop = false;
    intact = ReadSpill(*records,
                       [&](int kind, const std::wstring& text) {
                         if (index < first) {
                           mark(kind, text);
                         } else {
                           const uint64_t hash = RecordHash(kind, text);
                           const size_t at = static_cast<size_t>(
                               std::lower_bound(slice.begin(), slice.end(), hash) - slice.begin());
                           if (!taken[at]) {
                             taken[at] = true;
                             error = Append(kept.get(), kind, text);
                           }
                         }
                         return ++index < last && error == 0;
                       },
                       &stop);
  }
  ReleaseSpill(records);
  if (!intact && error == 0) error = ERROR_FILE_CORRUPT;
  if (error != 0) {
    ReleaseSpill(kept.get());
    if (log.lost == 0) log.lost = error;
    return;
  }
  if (kept->count == 0) return;
  log.front.insert(log.front.begin(), std::move(kept));
}

DWORD AppendSpilledRecord(RecordSpill* spill, int kind, std::wstring_view text) { return Append(spill, kind, text); }

bool ForEachSpilledRecord(const RecordSpill& spill, const std::function<bool(int kind, const std::wstring& text)>& visit) {
  bool stop = false;
  return ReadSpill(spill, visit, &stop);
}

void RemoveUninstallRecords(const std::vector<UninstallRecord>& records) {
  if (records.empty()) return;
  RunLog& log = Log();
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  // Each list is copied without those records (a few file types of an
  // upgrade: rare, and linear in the log).
  auto filter = [&records](RecordSpill* spill) -> DWORD {
    RecordSpill kept;
    kept.folder = spill->folder;
    DWORD error = 0;
    bool stop = false;
    const bool intact = ReadSpill(*spill,
                                  [&](int kind, const std::wstring& text) {
                                    for (const UninstallRecord& record : records)
                                      if (record.kind == kind && record.text == text) return true;
                                    error = Append(&kept, kind, text);
                                    return error == 0;
                                  },
                                  &stop);
    if (!intact || error != 0) {
      ReleaseSpill(&kept);
      return error != 0 ? error : ERROR_FILE_CORRUPT;
    }
    ReleaseSpill(spill);
    *spill = kept;
    return 0;
  };
  for (auto& batch : log.front) {
    const DWORD error = filter(batch.get());
    if (error != 0 && log.lost == 0) log.lost = error;
  }
  const DWORD error = filter(&log.own);
  if (error != 0 && log.lost == 0) log.lost = error;
}

void DiscardUninstallLog() {
  RunLog& log = Log();
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  ReleaseSpill(&log.own);
  for (auto& batch : log.front) ReleaseSpill(batch.get());
  log.front.clear();
  log.front.shrink_to_fit();
  log.lost = 0;
}

std::vector<UninstallRecord> UninstallLogRecords() {
  std::vector<UninstallRecord> records;
  ForEachUninstallRecord([&records](int kind, const std::wstring& text) {
    records.push_back({kind, text});
    return true;
  });
  return records;
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
  RunLog& log = Log();
  {
    SrwGuard guard(&log.lock, SrwGuard::kExclusive);
    if (log.lost != 0) return log.lost;
    // Recorded before they are written, like every other file, so that a
    // log that exists always names itself and its uninstaller (once: a
    // reinstall's log has them already).
    const std::wstring own[] = {NormalRecordPath(uninstaller), NormalRecordPath(logFile)};
    bool present[] = {false, false};
    if (!ForEachLocked(log, [&](int kind, const std::wstring& text) {
          for (int i = 0; i < 2; ++i) present[i] = present[i] || (kind == kRecordFile && text == own[i]);
          return !(present[0] && present[1]);
        }))
      return ERROR_FILE_CORRUPT;
    for (int i = 0; i < 2; ++i) {
      if (present[i]) continue;
      DWORD error = Append(&log.own, kRecordFile, own[i]);
      if (error != 0) return error;
    }
  }

  DWORD error = WriteFileReplacing(uninstaller, program);
  if (error != 0) return error;
  SrwGuard guard(&log.lock, SrwGuard::kExclusive);
  return WriteLogFile(log, logFile);
}

}  // namespace kxcore
