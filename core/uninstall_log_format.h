// The uninstall log's file format (core/uninstall_log.h and
// docs/uninstall-log.md give the layout) as portable code over bytes: UTF-16
// texts as char16_t, no Windows header, so that the fuzz targets run the
// very reader and writer the core library runs. Reading and writing the file
// and the conversion to wchar_t stay in core/uninstall_log_file.cpp.
#ifndef KX_CORE_UNINSTALL_LOG_FORMAT_H
#define KX_CORE_UNINSTALL_LOG_FORMAT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>

namespace kxcore {

// The highest record kind a log may hold (core/uninstall_log.h's
// kRecordKindLast); both readers refuse a line of any other.
constexpr int kLastLogRecordKind = 7;

// The 7z/zip CRC-32 of size bytes. The core library hands in the LZMA SDK's,
// which it carries anyway; base/crc32.h gives the same values.
using LogCrc32 = uint32_t (*)(const void* data, size_t size);

// Receives the records of a log in their order while it is read. A log may
// still turn out damaged after some records were handed over: only a true
// result of ParseLogBytes makes them a log.
class LogRecordSink {
 public:
  virtual void Add(int kind, std::u16string_view text) = 0;

 protected:
  ~LogRecordSink() = default;
};

// Reads a whole log. True for a complete log, every record of which went to
// sink; false for anything damaged (see docs/uninstall-log.md's list).
bool ParseLogBytes(std::string_view bytes, LogCrc32 crc, LogRecordSink* sink);

// A log's bytes in order, a piece at a time (the uninstaller reads a log of
// a million records this way instead of whole).
class LogByteSource {
 public:
  // Puts up to capacity bytes into buffer: how many, 0 at the end, or a
  // negative number when the file cannot be read.
  virtual long long Read(char* buffer, size_t capacity) = 0;

 protected:
  ~LogByteSource() = default;
};

// The CRC-32 of size bytes continued from sum, the CRC of the bytes before
// them (0 to start), as base/crc32.h computes it.
using LogCrc32Update = uint32_t (*)(uint32_t sum, const void* data, size_t size);

enum class LogStreamResult { kOk, kDamaged, kUnreadable };

// Reads a log from source with the same rules as ParseLogBytes, holding a
// line and a piece of the file at a time; the records go to sink as they are
// read, so only kOk makes them a log.
LogStreamResult ParseLogStream(LogByteSource* source, LogCrc32Update crc, LogRecordSink* sink);

// The writer, in three steps: the header, one call per record (kind 0 to 3),
// then the trailer with the count of records and the CRC of everything
// before it.
void AppendLogHeader(std::string* out);
void AppendLogRecord(int kind, std::u16string_view text, std::string* out);
void AppendLogTrailer(size_t count, LogCrc32 crc, std::string* out);
// The same for a log written a chunk at a time: sum is the CRC of every byte
// written before the trailer.
void AppendLogTrailerSum(size_t count, uint32_t sum, std::string* out);

// UTF-8 as the log holds it, converted the way Windows converts it: reading
// refuses what MultiByteToWideChar refuses with MB_ERR_INVALID_CHARS
// (truncated or overlong sequences, surrogates, values above U+10FFFF);
// writing puts U+FFFD where a surrogate is unpaired, as WideCharToMultiByte
// does. After a false result, text holds no meaning.
bool DecodeUtf8(std::string_view bytes, std::u16string* text);
void AppendUtf8(std::u16string_view text, std::string* out);

}  // namespace kxcore

#endif
