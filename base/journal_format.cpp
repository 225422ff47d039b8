#include "base/journal_format.h"

#include <windows.h>
#include <string.h>
#include <wchar.h>

#include "base/crc32.h"
#include "base/device_names.h"

namespace {

constexpr char kMagic[] = "kxjournal";
constexpr char kVersion[] = "1";
constexpr char kNewFolder[] = "new";
constexpr char kExistingFolder[] = "existing";
constexpr size_t kMaxFields = 3;
// "<8 hex> <kind>"
constexpr size_t kPrefixBytes = 10;

uint32_t LineCrc(const char* text, size_t length) { return kxcrc::Crc32(text, length); }

// Hexadecimal digits of value, the lowest `digits` of them, into out; no
// printf family, which would cost the programs tens of KB.
void PutHexDigits(uint64_t value, size_t digits, bool upper, char* out) {
  const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  for (size_t i = digits; i-- > 0; value >>= 4) out[i] = alphabet[value & 15];
}

// value in decimal into out (room for 20 digits); returns the digit count.
size_t PutDecimal(uint64_t value, char* out) {
  char reversed[20];
  size_t count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (size_t i = 0; i < count; ++i) out[i] = reversed[count - 1 - i];
  return count;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(const char* text, size_t length, uint64_t* value) {
  *value = 0;
  for (size_t i = 0; i < length; ++i) {
    int digit = HexValue(text[i]);
    if (digit < 0) return false;
    *value = (*value << 4) | static_cast<uint64_t>(digit);
  }
  return true;
}

bool ParseDecimal(const char* text, size_t length, uint64_t* value) {
  if (length == 0 || length > 20) return false;
  *value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (*value > (UINT64_MAX - digit) / 10) return false;
    *value = *value * 10 + digit;
  }
  return true;
}

bool IsKind(char c) { return c && strchr("HDCNAXWK", c) != nullptr; }

size_t FieldCount(JournalLineKind kind) {
  switch (kind) {
    case JournalLineKind::kHeader: return 3;
    case JournalLineKind::kFolderCreated:
    case JournalLineKind::kFileCreated: return 1;
    case JournalLineKind::kKeptAside:
    case JournalLineKind::kAsideVoid: return 2;
    case JournalLineKind::kFileWritten: return 3;
    case JournalLineKind::kAboutToCreate: return 2;
    case JournalLineKind::kCommitted: return 0;
  }
  return 0;
}

bool HasPath(JournalLineKind kind) { return kind != JournalLineKind::kHeader && kind != JournalLineKind::kCommitted; }
bool HasAside(JournalLineKind kind) { return kind == JournalLineKind::kKeptAside || kind == JournalLineKind::kAsideVoid; }

// Appends text to a line being built; false when it does not fit (room is
// kept for CR LF).
bool Put(char* buffer, size_t* length, const char* text, size_t bytes) {
  if (*length + bytes + 2 > kJournalLineBytes) return false;
  memcpy(buffer + *length, text, bytes);
  *length += bytes;
  return true;
}

bool PutText(char* buffer, size_t* length, const char* text) { return Put(buffer, length, text, strlen(text)); }

bool PutWide(char* buffer, size_t* length, const wchar_t* text) {
  const size_t room = kJournalLineBytes - 2 - *length;
  const size_t units = wcslen(text);
  if (units == 0 || units > INT32_MAX) return false;
  // 0 for an unpaired surrogate or when the bytes do not fit.
  int written = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(units),
                                    buffer + *length, static_cast<int>(room), nullptr, nullptr);
  if (written <= 0) return false;
  *length += static_cast<size_t>(written);
  return true;
}

// Decodes a UTF-8 field into capacity units with the terminating zero.
bool DecodeField(const char* text, size_t length, wchar_t* out, size_t capacity) {
  if (length == 0 || length > INT32_MAX) return false;
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), out,
                                  static_cast<int>(capacity - 1));
  if (units <= 0) return false;
  out[units] = L'\0';
  // A NUL inside the field would cut the path short of what was checked.
  return wcslen(out) == static_cast<size_t>(units);
}

bool FieldIs(const char* text, size_t length, const char* expected) {
  return length == strlen(expected) && memcmp(text, expected, length) == 0;
}

bool IsUnfitInPath(wchar_t c) { return c < 32 || wcschr(L"/:*?\"<>|", c) != nullptr; }

// An X line: every kept-aside line before it with its path and name is void,
// the one right before it or one announced earlier. False when there is none.
bool VoidKeptAside(const char* bytes, size_t size, const JournalLine& line, ParsedJournal* parsed,
                   JournalLine* earlier) {
  bool found = false;
  for (size_t i = parsed->count; i-- > 0;) {
    JournalChange& change = parsed->changes[i];
    if (change.kind != JournalLineKind::kKeptAside || change.voided) continue;
    size_t offset = change.offset;
    bool atEnd = false;
    if (ReadJournalLine(bytes, size, &offset, earlier, &atEnd) != JournalDamage::kNone || atEnd) continue;
    if (wcscmp(earlier->path, line.path) != 0 || _wcsicmp(earlier->aside, line.aside) != 0) continue;
    change.voided = true;
    found = true;
  }
  return found;
}

}  // namespace

bool IsJournalRelativePath(const wchar_t* path) {
  if (wcsnlen(path, kJournalPathCapacity) >= kJournalPathCapacity) return false;
  const wchar_t* start = path;
  for (const wchar_t* p = path;; ++p) {
    if (*p != L'\\' && *p != L'\0') {
      if (IsUnfitInPath(*p)) return false;
      continue;
    }
    // No empty component (a leading, doubled or trailing separator), none of
    // dots and blanks only (".." climbs, Windows drops the rest), no device.
    const size_t length = static_cast<size_t>(p - start);
    bool dotsAndBlanks = true;
    for (const wchar_t* q = start; q < p; ++q)
      if (*q != L'.' && *q != L' ') dotsAndBlanks = false;
    if (length == 0 || dotsAndBlanks || IsDeviceName(start, length)) return false;
    if (*p == L'\0') return true;
    start = p + 1;
  }
}

bool JournalFilePath(const wchar_t* folder, wchar_t* path) {
  size_t length = wcsnlen(folder, kJournalFilePathCapacity);
  // "C:\" keeps nothing behind its drive: the journal then lies at "C:\~kx...".
  while (length > 0 && (folder[length - 1] == L'\\' || folder[length - 1] == L'/')) --length;
  const size_t name = wcslen(kJournalFileName);
  if (length + 1 + name >= kJournalFilePathCapacity) return false;
  wmemcpy(path, folder, length);
  path[length] = L'\\';
  wmemcpy(path + length + 1, kJournalFileName, name + 1);
  return true;
}

bool IsAsideFileName(const wchar_t* name) {
  if (wcsnlen(name, kAsideNameCapacity) != kAsideNameCapacity - 1) return false;
  if (_wcsnicmp(name, L"~kx", 3) != 0 || _wcsicmp(name + 14, L".tmp") != 0) return false;
  for (size_t i = 3; i < 14; ++i)
    if (name[i] > 0x7F || HexValue(static_cast<char>(name[i])) < 0) return false;
  return true;
}

void FormatAsideName(uint64_t number, wchar_t* name) {
  char digits[11];
  PutHexDigits(number, 11, true, digits);
  wcscpy(name, L"~kx");
  for (size_t i = 0; i < 11; ++i) name[3 + i] = static_cast<wchar_t>(digits[i]);
  wcscpy(name + 14, L".tmp");
}

size_t FormatJournalLine(const JournalLine& line, char* buffer) {
  if (HasPath(line.kind) && !IsJournalRelativePath(line.path)) return 0;
  if (HasAside(line.kind) && !IsAsideFileName(line.aside)) return 0;
  size_t length = 9;  // the CRC and its blank come last
  char kind = static_cast<char>(line.kind);
  if (!Put(buffer, &length, &kind, 1)) return 0;
  // A tab, at most 20 digits, a tab and 16.
  char number[40];
  switch (line.kind) {
    case JournalLineKind::kHeader:
      if (!PutText(buffer, &length, " ") || !PutText(buffer, &length, kMagic) || !PutText(buffer, &length, "\t") ||
          !PutText(buffer, &length, kVersion) || !PutText(buffer, &length, "\t") ||
          !PutText(buffer, &length, line.folderCreated ? kNewFolder : kExistingFolder))
        return 0;
      break;
    case JournalLineKind::kCommitted: break;
    default:
      if (!PutText(buffer, &length, " ") || !PutWide(buffer, &length, line.path)) return 0;
      if (HasAside(line.kind) && (!PutText(buffer, &length, "\t") || !PutWide(buffer, &length, line.aside))) return 0;
      if (line.kind == JournalLineKind::kFileWritten) {
        size_t used = 0;
        number[used++] = '\t';
        used += PutDecimal(line.size, number + used);
        number[used++] = '\t';
        PutHexDigits(line.writeTime, 16, true, number + used);
        used += 16;
        if (!Put(buffer, &length, number, used)) return 0;
      }
      if (line.kind == JournalLineKind::kAboutToCreate) {
        number[0] = '\t';
        PutHexDigits(line.writeTime, 16, true, number + 1);
        if (!Put(buffer, &length, number, 17)) return 0;
      }
      break;
  }
  PutHexDigits(LineCrc(buffer + 9, length - 9), 8, false, buffer);
  buffer[8] = ' ';
  buffer[length++] = '\r';
  buffer[length++] = '\n';
  return length;
}

JournalDamage ReadJournalLine(const char* bytes, size_t size, size_t* offset, JournalLine* line, bool* atEnd) {
  *atEnd = *offset >= size;
  if (*atEnd) return JournalDamage::kNone;
  const char* start = bytes + *offset;
  const size_t rest = size - *offset;
  const size_t window = rest < kJournalLineBytes ? rest : kJournalLineBytes;
  const char* newline = static_cast<const char*>(memchr(start, '\n', window));
  if (!newline) return rest < kJournalLineBytes ? JournalDamage::kCut : JournalDamage::kTooLong;
  const size_t lineBytes = static_cast<size_t>(newline - start) + 1;
  if (lineBytes < kPrefixBytes + 2 || newline[-1] != '\r' || start[8] != ' ') return JournalDamage::kSyntax;
  const char* text = start + 9;
  const size_t textBytes = lineBytes - 11;
  uint64_t crc = 0;
  if (!ParseHex(start, 8, &crc)) return JournalDamage::kSyntax;
  if (static_cast<uint32_t>(crc) != LineCrc(text, textBytes)) return JournalDamage::kChecksum;
  if (!IsKind(text[0])) return JournalDamage::kSyntax;

  *line = JournalLine();
  line->kind = static_cast<JournalLineKind>(text[0]);
  const char* fields[kMaxFields] = {};
  size_t lengths[kMaxFields] = {};
  size_t count = 0;
  if (textBytes > 1) {
    if (text[1] != ' ') return JournalDamage::kSyntax;
    const char* field = text + 2;
    const char* end = text + textBytes;
    for (;;) {
      const char* tab = static_cast<const char*>(memchr(field, '\t', static_cast<size_t>(end - field)));
      const char* fieldEnd = tab ? tab : end;
      if (count == kMaxFields) return JournalDamage::kSyntax;
      fields[count] = field;
      lengths[count] = static_cast<size_t>(fieldEnd - field);
      ++count;
      if (!tab) break;
      field = tab + 1;
    }
  }
  if (count != FieldCount(line->kind)) return JournalDamage::kSyntax;

  if (line->kind == JournalLineKind::kHeader) {
    if (!FieldIs(fields[0], lengths[0], kMagic) || !FieldIs(fields[1], lengths[1], kVersion)) return JournalDamage::kHeader;
    if (FieldIs(fields[2], lengths[2], kNewFolder))
      line->folderCreated = true;
    else if (!FieldIs(fields[2], lengths[2], kExistingFolder))
      return JournalDamage::kSyntax;
  } else if (HasPath(line->kind)) {
    if (!DecodeField(fields[0], lengths[0], line->path, kJournalPathCapacity)) return JournalDamage::kSyntax;
    if (!IsJournalRelativePath(line->path)) return JournalDamage::kPath;
    if (HasAside(line->kind)) {
      if (!DecodeField(fields[1], lengths[1], line->aside, kAsideNameCapacity)) return JournalDamage::kPath;
      if (!IsAsideFileName(line->aside)) return JournalDamage::kPath;
    }
    if (line->kind == JournalLineKind::kFileWritten &&
        (!ParseDecimal(fields[1], lengths[1], &line->size) || lengths[2] != 16 ||
         !ParseHex(fields[2], lengths[2], &line->writeTime)))
      return JournalDamage::kSyntax;
    if (line->kind == JournalLineKind::kAboutToCreate &&
        (lengths[1] != 16 || !ParseHex(fields[1], lengths[1], &line->writeTime)))
      return JournalDamage::kSyntax;
  }
  *offset += lineBytes;
  return JournalDamage::kNone;
}

bool ParseJournal(const char* bytes, size_t size, ParsedJournal* parsed) {
  *parsed = ParsedJournal();
  // Room for every line the bytes hold.
  size_t capacity = 1;
  for (const char* p = bytes; size && (p = static_cast<const char*>(memchr(p, '\n', size - static_cast<size_t>(p - bytes))));
       ++p)
    ++capacity;
  parsed->changes = static_cast<JournalChange*>(HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(JournalChange)));
  if (!parsed->changes) return false;
  // The line before, for the X or W that belongs to it. Two lines of 1.6 KB
  // live on the heap with the changes rather than on the stack.
  JournalLine* lines = static_cast<JournalLine*>(HeapAlloc(GetProcessHeap(), 0, 3 * sizeof(JournalLine)));
  if (!lines) {
    FreeParsedJournal(parsed);
    return false;
  }
  JournalLine* line = &lines[0];
  JournalLine* previous = &lines[1];
  JournalLine* earlier = &lines[2];
  bool havePrevious = false;  // the line before is a D, C or A still open for an X or W
  bool intentOpen = false;    // the line before is an N
  size_t intentOffset = 0;
  size_t offset = 0;
  bool first = true;
  for (;;) {
    const size_t start = offset;
    bool atEnd = false;
    JournalDamage damage = ReadJournalLine(bytes, size, &offset, line, &atEnd);
    if (damage == JournalDamage::kNone && atEnd) {
      if (first) {
        damage = JournalDamage::kHeader;
      } else {
        // Killed between making a file and recording it.
        if (intentOpen) {
          JournalChange& change = parsed->changes[parsed->count++];
          change = JournalChange();
          change.kind = JournalLineKind::kAboutToCreate;
          change.offset = intentOffset;
        }
        break;
      }
    }
    if (damage == JournalDamage::kNone) {
      const JournalLineKind kind = line->kind;
      const bool belongs = havePrevious && wcscmp(previous->path, line->path) == 0;
      if (first != (kind == JournalLineKind::kHeader))
        damage = first ? JournalDamage::kHeader : JournalDamage::kOrder;
      else if (parsed->committed)
        damage = JournalDamage::kOrder;
      else if (kind == JournalLineKind::kAsideVoid && !VoidKeptAside(bytes, size, *line, parsed, earlier))
        damage = JournalDamage::kOrder;
      else if (kind == JournalLineKind::kFileWritten && !(belongs && previous->kind != JournalLineKind::kFolderCreated))
        damage = JournalDamage::kOrder;
    }
    if (damage != JournalDamage::kNone) {
      parsed->damage = damage;
      parsed->damageOffset = start;
      break;
    }
    first = false;
    switch (line->kind) {
      case JournalLineKind::kHeader: parsed->folderCreated = line->folderCreated; break;
      case JournalLineKind::kCommitted: parsed->committed = true; break;
      case JournalLineKind::kAsideVoid: break;
      case JournalLineKind::kAboutToCreate: intentOffset = start; break;
      case JournalLineKind::kFileWritten: {
        JournalChange& change = parsed->changes[parsed->count - 1];
        change.written = true;
        change.size = line->size;
        change.writeTime = line->writeTime;
        break;
      }
      default: {
        JournalChange& change = parsed->changes[parsed->count++];
        change = JournalChange();
        change.kind = line->kind;
        change.offset = start;
        break;
      }
    }
    intentOpen = line->kind == JournalLineKind::kAboutToCreate;
    // Only a D, C or A line takes an X or W after it, and only one.
    havePrevious = line->kind == JournalLineKind::kFolderCreated || line->kind == JournalLineKind::kFileCreated ||
                   line->kind == JournalLineKind::kKeptAside;
    JournalLine* swap = previous;
    previous = line;
    line = swap;
  }
  HeapFree(GetProcessHeap(), 0, lines);
  // Void changes go; the rest keep their order.
  size_t kept = 0;
  for (size_t i = 0; i < parsed->count; ++i)
    if (!parsed->changes[i].voided) parsed->changes[kept++] = parsed->changes[i];
  parsed->count = kept;
  return true;
}

void FreeParsedJournal(ParsedJournal* parsed) {
  if (parsed->changes) HeapFree(GetProcessHeap(), 0, parsed->changes);
  *parsed = ParsedJournal();
}

const wchar_t* JournalDamageText(JournalDamage damage) {
  switch (damage) {
    case JournalDamage::kNone: return L"none";
    case JournalDamage::kHeader: return L"header";
    case JournalDamage::kCut: return L"cut";
    case JournalDamage::kTooLong: return L"too long";
    case JournalDamage::kChecksum: return L"checksum";
    case JournalDamage::kSyntax: return L"syntax";
    case JournalDamage::kPath: return L"path";
    case JournalDamage::kOrder: return L"order";
  }
  return L"?";
}
