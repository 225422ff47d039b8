// The uninstall log's file format and its crash-safe writing.
#include "7zCrc.h"
#include "base/handle_guard.h"
#include "core/decimal_text.h"
#include "core/module_files.h"
#include "core/uninstall_log.h"

namespace kxcore {
namespace {

constexpr std::string_view kHeaderLine = "KXUNINSTALLLOG 1";
constexpr std::string_view kTrailerStart = "END ";
constexpr std::string_view kLineEnd = "\r\n";

uint32_t Crc32(std::string_view bytes) {
  static const bool tablesReady = (CrcGenerateTable(), true);
  (void)tablesReady;
  return CrcCalc(bytes.data(), bytes.size());
}

bool FromUtf8(std::string_view bytes, std::wstring* text) {
  text->clear();
  if (bytes.empty()) return true;
  int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                 nullptr, 0);
  if (size <= 0) return false;
  text->assign(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), &(*text)[0],
                      size);
  return true;
}

void AppendEncoded(std::string_view text, std::string* out) {
  for (char c : text) {
    switch (c) {
      case '%': *out += "%25"; break;
      case '\t': *out += "%09"; break;
      case '\r': *out += "%0D"; break;
      case '\n': *out += "%0A"; break;
      default: *out += c; break;
    }
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Decode(std::string_view encoded, std::string* out) {
  out->clear();
  for (size_t i = 0; i < encoded.size(); ++i) {
    char c = encoded[i];
    if (c == '\t' || c == '\r' || c == '\n') return false;
    if (c != '%') {
      *out += c;
      continue;
    }
    if (i + 2 >= encoded.size()) return false;
    int high = HexDigit(encoded[i + 1]);
    int low = HexDigit(encoded[i + 2]);
    if (high < 0 || low < 0) return false;
    *out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

bool ParseRecord(std::string_view line, UninstallRecord* record) {
  if (line.size() < 2 || line[0] < '0' || line[0] > '3' || line[1] != '\t') return false;
  std::string text;
  if (!Decode(line.substr(2), &text) || !FromUtf8(text, &record->text)) return false;
  record->kind = line[0] - '0';
  return true;
}

// "END <count> <crc>" with a decimal count and 8 hexadecimal digits.
bool ParseTrailer(std::string_view line, size_t* count, uint32_t* crc) {
  if (line.substr(0, kTrailerStart.size()) != kTrailerStart) return false;
  line.remove_prefix(kTrailerStart.size());
  size_t blank = line.find(' ');
  if (blank == 0 || blank == std::string_view::npos || blank > 10 || line.size() - blank - 1 != 8) return false;
  uint64_t value = 0;
  for (char c : line.substr(0, blank)) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  uint32_t sum = 0;
  for (char c : line.substr(blank + 1)) {
    int digit = HexDigit(c);
    if (digit < 0) return false;
    sum = (sum << 4) | static_cast<uint32_t>(digit);
  }
  *count = static_cast<size_t>(value);
  *crc = sum;
  return true;
}

}  // namespace

std::string FormatUninstallLog(const std::vector<UninstallRecord>& records) {
  std::string out;
  out += kHeaderLine;
  out += kLineEnd;
  for (const UninstallRecord& record : records) {
    out += static_cast<char>('0' + record.kind);
    out += '\t';
    AppendEncoded(EncodeText(record.text, CP_UTF8), &out);
    out += kLineEnd;
  }
  // "END <count> <crc>", formatted by hand: the C runtime's printf family
  // would bring tens of kilobytes into the library for this one line.
  const uint32_t crc = Crc32(out);
  out += kTrailerStart;
  for (wchar_t digit : DecimalText(static_cast<long long>(records.size()))) out += static_cast<char>(digit);
  out += ' ';
  for (int shift = 28; shift >= 0; shift -= 4) out += "0123456789ABCDEF"[(crc >> shift) & 0xF];
  out += kLineEnd;
  return out;
}

LogFileStatus ParseUninstallLog(std::string_view bytes, std::vector<UninstallRecord>* records) {
  records->clear();
  std::vector<UninstallRecord> parsed;
  size_t start = 0;
  bool headerSeen = false;
  while (start < bytes.size()) {
    size_t end = bytes.find(kLineEnd, start);
    if (end == std::string_view::npos) return LogFileStatus::kDamaged;  // cut inside a line
    std::string_view line = bytes.substr(start, end - start);
    const size_t lineStart = start;
    start = end + kLineEnd.size();

    if (!headerSeen) {
      if (line != kHeaderLine) return LogFileStatus::kDamaged;
      headerSeen = true;
      continue;
    }
    size_t count = 0;
    uint32_t crc = 0;
    if (ParseTrailer(line, &count, &crc)) {
      if (start != bytes.size() || count != parsed.size() || crc != Crc32(bytes.substr(0, lineStart)))
        return LogFileStatus::kDamaged;
      *records = std::move(parsed);
      return LogFileStatus::kOk;
    }
    UninstallRecord record;
    if (!ParseRecord(line, &record)) return LogFileStatus::kDamaged;
    parsed.push_back(std::move(record));
  }
  return LogFileStatus::kDamaged;  // no trailer
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
