#include "core/uninstall_log_format.h"

namespace kxcore {
namespace {

constexpr std::string_view kHeaderLine = "KXUNINSTALLLOG 1";
constexpr std::string_view kTrailerStart = "END ";
constexpr std::string_view kLineEnd = "\r\n";

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

bool DecodeUtf8(std::string_view bytes, std::u16string* text) {
  text->clear();
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      *text += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    size_t length;
    char32_t point, least;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, point = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, point = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, point = lead & 0x07, least = 0x10000;
    } else {
      return false;  // a continuation byte, an overlong lead (C0, C1) or F5 to FF
    }
    if (bytes.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    if (point >= 0x10000) {
      *text += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
      *text += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
    } else {
      *text += static_cast<char16_t>(point);
    }
    i += length;
  }
  return true;
}

void AppendUtf8(std::u16string_view text, std::string* out) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t point = text[i];
    if (point >= 0xD800 && point <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      point = 0x10000 + ((point - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (point >= 0xD800 && point <= 0xDFFF) {
      point = 0xFFFD;
    }
    if (point < 0x80) {
      *out += static_cast<char>(point);
    } else if (point < 0x800) {
      *out += static_cast<char>(0xC0 | (point >> 6));
      *out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      *out += static_cast<char>(0xE0 | (point >> 12));
      *out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (point >> 18));
      *out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
}

void AppendLogHeader(std::string* out) {
  *out += kHeaderLine;
  *out += kLineEnd;
}

void AppendLogRecord(int kind, std::u16string_view text, std::string* out) {
  std::string utf8;
  AppendUtf8(text, &utf8);
  *out += static_cast<char>('0' + kind);
  *out += '\t';
  AppendEncoded(utf8, out);
  *out += kLineEnd;
}

void AppendLogTrailer(size_t count, LogCrc32 crc, std::string* out) {
  AppendLogTrailerSum(count, crc(out->data(), out->size()), out);
}

void AppendLogTrailerSum(size_t count, uint32_t sum, std::string* out) {
  // "END <count> <crc>", formatted by hand: the C runtime's printf family
  // would bring tens of kilobytes into the core library for this one line.
  char digits[24];
  size_t start = sizeof digits;
  do {
    digits[--start] = static_cast<char>('0' + count % 10);
    count /= 10;
  } while (count != 0);
  *out += kTrailerStart;
  out->append(digits + start, sizeof digits - start);
  *out += ' ';
  for (int shift = 28; shift >= 0; shift -= 4) *out += "0123456789ABCDEF"[(sum >> shift) & 0xF];
  *out += kLineEnd;
}

bool ParseLogBytes(std::string_view bytes, LogCrc32 crc, LogRecordSink* sink) {
  std::string decoded;
  std::u16string text;
  size_t start = 0;
  size_t records = 0;
  bool headerSeen = false;
  while (start < bytes.size()) {
    size_t end = bytes.find(kLineEnd, start);
    if (end == std::string_view::npos) return false;  // cut inside a line
    std::string_view line = bytes.substr(start, end - start);
    const size_t lineStart = start;
    start = end + kLineEnd.size();

    if (!headerSeen) {
      if (line != kHeaderLine) return false;
      headerSeen = true;
      continue;
    }
    size_t count = 0;
    uint32_t sum = 0;
    if (ParseTrailer(line, &count, &sum))
      return start == bytes.size() && count == records && sum == crc(bytes.data(), lineStart);
    if (line.size() < 2 || line[0] < '0' || line[0] > '0' + kLastLogRecordKind || line[1] != '\t') return false;
    if (!Decode(line.substr(2), &decoded) || !DecodeUtf8(decoded, &text)) return false;
    sink->Add(line[0] - '0', text);
    ++records;
  }
  return false;  // no trailer
}

LogStreamResult ParseLogStream(LogByteSource* source, LogCrc32Update crc, LogRecordSink* sink) {
  // A line longer than this is no line of a log (a path of 32,767 units
  // takes at most 3 bytes a unit, and 3 more once encoded).
  constexpr size_t kLongestLine = 320 * 1024;
  constexpr size_t kPiece = 256 * 1024;
  std::string pending;  // bytes read and not yet taken as lines
  std::string decoded;
  std::u16string text;
  uint32_t sum = 0;  // CRC of every line taken so far
  size_t records = 0;
  bool headerSeen = false;
  bool trailerSeen = false;
  bool atEnd = false;
  while (!atEnd) {
    const size_t kept = pending.size();
    pending.resize(kept + kPiece);
    const long long read = source->Read(&pending[kept], kPiece);
    if (read < 0) return LogStreamResult::kUnreadable;
    pending.resize(kept + static_cast<size_t>(read));
    atEnd = read == 0;
    if (trailerSeen) {
      if (!pending.empty()) return LogStreamResult::kDamaged;  // bytes after the trailer
      continue;
    }
    size_t start = 0;
    for (;;) {
      const size_t end = pending.find(kLineEnd, start);
      if (end == std::string::npos) break;
      const std::string_view line(pending.data() + start, end - start);
      const size_t next = end + kLineEnd.size();
      if (!headerSeen) {
        if (line != kHeaderLine) return LogStreamResult::kDamaged;
        headerSeen = true;
      } else {
        size_t count = 0;
        uint32_t expected = 0;
        if (ParseTrailer(line, &count, &expected)) {
          if (count != records || expected != sum || next != pending.size()) return LogStreamResult::kDamaged;
          trailerSeen = true;
          start = next;
          break;
        }
        if (line.size() < 2 || line[0] < '0' || line[0] > '0' + kLastLogRecordKind || line[1] != '\t') return LogStreamResult::kDamaged;
        if (!Decode(line.substr(2), &decoded) || !DecodeUtf8(decoded, &text)) return LogStreamResult::kDamaged;
        sink->Add(line[0] - '0', text);
        ++records;
      }
      sum = crc(sum, pending.data() + start, next - start);
      start = next;
    }
    pending.erase(0, start);
    if (pending.size() > kLongestLine) return LogStreamResult::kDamaged;
  }
  return trailerSeen ? LogStreamResult::kOk : LogStreamResult::kDamaged;
}

}  // namespace kxcore

