// The uninstall log's file format and its crash-safe writing.
#include "7zCrc.h"
#include "base/handle_guard.h"
#include "core/uninstall_log.h"
#include "core/uninstall_log_format.h"
#include "core/utf16_text.h"

namespace kxcore {
namespace {

uint32_t Crc32(const void* data, size_t size) {
  static const bool tablesReady = (CrcGenerateTable(), true);
  (void)tablesReady;
  return CrcCalc(data, size);
}

uint32_t Crc32Update(uint32_t sum, const void* data, size_t size) {
  static const bool tablesReady = (CrcGenerateTable(), true);
  (void)tablesReady;
  return CRC_GET_DIGEST(CrcUpdate(sum ^ CRC_INIT_VAL, data, size));
}

}  // namespace

// The format itself is portable (core/uninstall_log_format.h).
std::string FormatUninstallLog(const std::vector<UninstallRecord>& records) {
  std::string out;
  AppendLogHeader(&out);
  for (const UninstallRecord& record : records) AppendLogRecord(record.kind, Utf16View(record.text), &out);
  AppendLogTrailer(records.size(), Crc32, &out);
  return out;
}

LogFileStatus ParseUninstallLog(std::string_view bytes, std::vector<UninstallRecord>* records) {
  records->clear();
  struct Collector : LogRecordSink {
    std::vector<UninstallRecord> parsed;
    void Add(int kind, std::u16string_view text) override { parsed.push_back({kind, WideText(text)}); }
  } collector;
  if (!ParseLogBytes(bytes, Crc32, &collector)) return LogFileStatus::kDamaged;
  *records = std::move(collector.parsed);
  return LogFileStatus::kOk;
}

LogFileStatus ReadUninstallLog(const std::wstring& path, std::vector<UninstallRecord>* records) {
  records->clear();
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? LogFileStatus::kMissing
                                                                           : LogFileStatus::kUnreadable;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return LogFileStatus::kUnreadable;
  // A log of a real installation is far below this; anything larger is not one.
  if (size.QuadPart > (256LL << 20)) return LogFileStatus::kDamaged;
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() && (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                         read != bytes.size()))
    return LogFileStatus::kUnreadable;
  return ParseUninstallLog(bytes, records);
}

LogFileStatus ReadUninstallLogStream(const std::wstring& path,
                                     const std::function<void(int kind, std::wstring&& text)>& visit) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? LogFileStatus::kMissing
                                                                           : LogFileStatus::kUnreadable;
  }
  struct Source : LogByteSource {
    HANDLE file;
    long long Read(char* buffer, size_t capacity) override {
      DWORD read = 0;
      if (!ReadFile(file, buffer, static_cast<DWORD>(capacity), &read, nullptr)) return -1;
      return read;
    }
  } source;
  source.file = file.get();
  struct Handing : LogRecordSink {
    const std::function<void(int, std::wstring&&)>* visit;
    void Add(int kind, std::u16string_view text) override { (*visit)(kind, WideText(text)); }
  } sink;
  sink.visit = &visit;
  switch (ParseLogStream(&source, Crc32Update, &sink)) {
    case LogStreamResult::kOk: return LogFileStatus::kOk;
    case LogStreamResult::kUnreadable: return LogFileStatus::kUnreadable;
    case LogStreamResult::kDamaged: break;
  }
  return LogFileStatus::kDamaged;
}

DWORD WriteFileReplacing(const std::wstring& path, std::string_view bytes) {
  const std::wstring temporary = path + L".kxnew";
  DWORD error = 0;
  {
    FileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) return GetLastError();
    constexpr size_t kChunk = 1 << 22;
    for (size_t done = 0; done < bytes.size() && error == 0;) {
      DWORD piece = static_cast<DWORD>(bytes.size() - done < kChunk ? bytes.size() - done : kChunk);
      DWORD written = 0;
      if (!WriteFile(file.get(), bytes.data() + done, piece, &written, nullptr))
        error = GetLastError();
      else if (written != piece)
        error = ERROR_WRITE_FAULT;
      done += written;
    }
    // The data must be on disk before the rename makes it the real file.
    if (error == 0 && !FlushFileBuffers(file.get())) error = GetLastError();
  }
  if (error == 0 && !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = GetLastError();
  if (error != 0) DeleteFileW(temporary.c_str());
  return error;
}

}  // namespace kxcore
