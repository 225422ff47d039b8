#include "base/journal_format.h"

#include <windows.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>

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

namespace {

// ---- the window ----

struct Window {
  JournalSource* source;
  char* bytes;         // kJournalWindowBytes on the process heap, or the source's own whole bytes
  bool owned;
  uint64_t start;      // the journal's offset of bytes[0]
  size_t size;
  bool reachesEnd;     // bytes run to the journal's end
};

bool OpenWindow(JournalSource* source, Window* window) {
  *window = Window();
  window->source = source;
  size_t size = 0;
  if (const char* whole = source->Whole(&size)) {
    // Never loaded again: it holds every line and reaches the end.
    window->bytes = const_cast<char*>(whole);
    window->size = size;
    window->reachesEnd = true;
    return true;
  }
  window->bytes = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kJournalWindowBytes));
  window->owned = true;
  return window->bytes != nullptr;
}

void CloseWindow(Window* window) {
  if (window->bytes && window->owned) HeapFree(GetProcessHeap(), 0, window->bytes);
  *window = Window();
}

bool Load(Window* window, uint64_t start, size_t bytes) {
  window->size = 0;
  const long long read = window->source->ReadAt(start, window->bytes, bytes);
  if (read < 0 || static_cast<unsigned long long>(read) > bytes) return false;
  window->start = start;
  window->size = static_cast<size_t>(read);
  window->reachesEnd = window->size < bytes;
  return true;
}

// Reads the line at *offset as ReadJournalLine reads it in the whole
// journal: the window holds a longest line from there, or all up to the end.
JournalDamage ReadLineAt(Window* window, uint64_t* offset, JournalLine* line, bool* atEnd, bool* failed) {
  const uint64_t windowEnd = window->start + window->size;
  const bool held = *offset >= window->start && (window->size != 0 || !window->owned) &&
                    (*offset + kJournalLineBytes <= windowEnd || (window->reachesEnd && *offset <= windowEnd));
  if (!held && !Load(window, *offset, kJournalWindowBytes)) {
    *failed = true;
    return JournalDamage::kCut;
  }
  size_t at = static_cast<size_t>(*offset - window->start);
  const JournalDamage damage = ReadJournalLine(window->bytes, window->size, &at, line, atEnd);
  *offset = window->start + at;
  return damage;
}

// The start of the line that ends at end (after its LF), in a journal whose
// lines up to end have been read well once. False when it cannot be read.
bool LineStartBefore(Window* window, uint64_t end, uint64_t* start) {
  // The LF of the line before lies at most a longest line before end.
  const uint64_t from = end > kJournalLineBytes + 1 ? end - kJournalLineBytes - 1 : 0;
  if (!(from >= window->start && end <= window->start + window->size)) {
    const uint64_t loadFrom = end > kJournalWindowBytes ? end - kJournalWindowBytes : 0;
    if (!Load(window, loadFrom, static_cast<size_t>(end - loadFrom)) || window->start + window->size != end)
      return false;
  }
  for (uint64_t i = end - 1; i-- > from;) {
    if (window->bytes[i - window->start] == '\n') {
      *start = i + 1;
      return true;
    }
  }
  *start = 0;
  return from == 0;
}

// ---- the X lines ----

// 64 bits of an X or A line's path and aside name (FNV-1a; the name in
// lower case, as the names compare).
uint64_t VoidKey(const JournalLine& line) {
  uint64_t hash = 0xCBF29CE484222325ull;
  auto mix = [&hash](unsigned unit) {
    hash ^= unit & 0xFFFF;
    hash *= 0x100000001B3ull;
  };
  for (const wchar_t* p = line.path; *p; ++p) mix(static_cast<unsigned>(*p));
  mix('\t');
  for (const wchar_t* p = line.aside; *p; ++p) mix(static_cast<unsigned>(*p >= L'A' && *p <= L'Z' ? *p + 32 : *p));
  return hash;
}

// Where key is among the survey's, or voidCount.
size_t FindVoidKey(const JournalSurvey& survey, uint64_t key) {
  size_t low = 0, high = survey.voidCount;
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (survey.voidKeys[middle] < key)
      low = middle + 1;
    else
      high = middle;
  }
  return low < survey.voidCount && survey.voidKeys[low] == key ? low : survey.voidCount;
}

template <typename T>
T* HeapArray(size_t count) {
  return static_cast<T*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (count ? count : 1) * sizeof(T)));
}

// One reading of the journal from its start, with every check of its
// lines. In the first (open == null) each X line is taken on trust and its
// key collected into keys; in the second each must void a kept-aside line
// before it that no X voided yet, counted in open by key.
struct Reading {
  uint64_t* keys;        // first reading: the X lines' keys, in order
  size_t keyCount;
  size_t keyCapacity;
  uint32_t* open;        // second reading: the A lines of each key no X voided yet
  uint64_t stopAt;       // first reading's kTooMany line, or UINT64_MAX
};

bool Follow(Window* window, JournalLine* lines, Reading* reading, JournalSurvey* survey) {
  const bool second = reading->open != nullptr;
  JournalLine* line = &lines[0];
  JournalLine* previous = &lines[1];
  bool havePrevious = false;  // the line before is a D, C or A still open for an X or W
  bool intentOpen = false;    // the line before is an N
  uint64_t intentOffset = 0;
  uint64_t offset = 0;
  bool first = true;
  survey->count = 0;
  survey->committed = false;
  survey->folderCreated = false;
  survey->intentLast = false;
  survey->damage = JournalDamage::kNone;
  for (;;) {
    const uint64_t start = offset;
    bool atEnd = false;
    bool failed = false;
    JournalDamage damage = ReadLineAt(window, &offset, line, &atEnd, &failed);
    if (failed) return false;
    if (damage == JournalDamage::kNone && atEnd) {
      if (first) {
        damage = JournalDamage::kHeader;
      } else {
        // Killed between making a file and recording it.
        if (intentOpen) {
          survey->intentLast = true;
          survey->intentOffset = intentOffset;
          ++survey->count;
        }
        survey->end = start;
        return true;
      }
    }
    if (damage == JournalDamage::kNone) {
      const JournalLineKind kind = line->kind;
      const bool belongs = havePrevious && wcscmp(previous->path, line->path) == 0;
      if (first != (kind == JournalLineKind::kHeader)) {
        damage = first ? JournalDamage::kHeader : JournalDamage::kOrder;
      } else if (survey->committed) {
        damage = JournalDamage::kOrder;
      } else if (kind == JournalLineKind::kAsideVoid && second) {
        if (start == reading->stopAt) {
          damage = JournalDamage::kTooMany;
        } else {
          // Every kept-aside line before with this path and name is void;
          // there must be one.
          const size_t at = FindVoidKey(*survey, VoidKey(*line));
          if (at == survey->voidCount || reading->open[at] == 0) {
            damage = JournalDamage::kOrder;
          } else {
            survey->count -= reading->open[at];
            reading->open[at] = 0;
            ++survey->voidLines[at];
          }
        }
      } else if (kind == JournalLineKind::kAsideVoid) {
        if (reading->keyCount == kMaxJournalVoids) {
          reading->stopAt = start;
          damage = JournalDamage::kTooMany;
        } else {
          if (reading->keyCount == reading->keyCapacity) {
            const size_t capacity = reading->keyCapacity ? 2 * reading->keyCapacity : 64;
            void* grown = reading->keys ? HeapReAlloc(GetProcessHeap(), 0, reading->keys, capacity * sizeof(uint64_t))
                                        : HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(uint64_t));
            if (!grown) return false;
            reading->keys = static_cast<uint64_t*>(grown);
            reading->keyCapacity = capacity;
          }
          reading->keys[reading->keyCount++] = VoidKey(*line);
        }
      } else if (kind == JournalLineKind::kFileWritten && !(belongs && previous->kind != JournalLineKind::kFolderCreated)) {
        damage = JournalDamage::kOrder;
      }
    }
    if (damage != JournalDamage::kNone) {
      survey->damage = damage;
      survey->end = start;
      return true;
    }
    first = false;
    switch (line->kind) {
      case JournalLineKind::kHeader: survey->folderCreated = line->folderCreated; break;
      case JournalLineKind::kCommitted: survey->committed = true; break;
      case JournalLineKind::kAboutToCreate: intentOffset = start; break;
      case JournalLineKind::kKeptAside:
        ++survey->count;
        if (second) {
          const size_t at = FindVoidKey(*survey, VoidKey(*line));
          if (at != survey->voidCount) ++reading->open[at];
        }
        break;
      case JournalLineKind::kFolderCreated:
      case JournalLineKind::kFileCreated: ++survey->count; break;
      default: break;
    }
    intentOpen = line->kind == JournalLineKind::kAboutToCreate;
    // Only a D, C or A line takes an X or W after it, and only one.
    havePrevious = line->kind == JournalLineKind::kFolderCreated || line->kind == JournalLineKind::kFileCreated ||
                   line->kind == JournalLineKind::kKeptAside;
    JournalLine* swap = previous;
    previous = line;
    line = swap;
  }
}

bool IsChange(JournalLineKind kind) {
  return kind == JournalLineKind::kFolderCreated || kind == JournalLineKind::kFileCreated ||
         kind == JournalLineKind::kKeptAside;
}

struct Collector : JournalChangeSink {
  ParsedJournal* parsed;
  size_t capacity;
  void Change(const JournalChange& change, const JournalLine&) override {
    if (parsed->count < capacity) parsed->changes[parsed->count++] = change;
  }
};

}  // namespace

long long JournalBytes::ReadAt(uint64_t offset, char* buffer, size_t capacity) {
  if (offset >= size_) return 0;
  const size_t count = size_ - offset < capacity ? static_cast<size_t>(size_ - offset) : capacity;
  memcpy(buffer, bytes_ + offset, count);
  return static_cast<long long>(count);
}

const char* JournalBytes::Whole(size_t* whole) {
  if (!inPlace_) return nullptr;
  *whole = size_;
  return bytes_;
}

bool SurveyJournal(JournalSource* source, JournalSurvey* survey) {
  *survey = JournalSurvey();
  Window window = {};
  JournalLine* lines = static_cast<JournalLine*>(HeapAlloc(GetProcessHeap(), 0, 2 * sizeof(JournalLine)));
  Reading reading = {};
  reading.stopAt = UINT64_MAX;
  bool done = lines && OpenWindow(source, &window) && Follow(&window, lines, &reading, survey);
  if (done) {
    // The X lines' keys, each once, sorted; the second reading counts.
    uint64_t* keys = reading.keys;
    size_t distinct = 0;
    if (reading.keyCount != 0) {
      std::sort(keys, keys + reading.keyCount);
      for (size_t i = 0; i < reading.keyCount; ++i)
        if (distinct == 0 || keys[distinct - 1] != keys[i]) keys[distinct++] = keys[i];
    }
    survey->voidKeys = HeapArray<uint64_t>(distinct);
    survey->voidLines = HeapArray<uint32_t>(distinct);
    reading.open = HeapArray<uint32_t>(distinct);
    done = survey->voidKeys && survey->voidLines && reading.open;
    if (done) {
      if (distinct) memcpy(survey->voidKeys, keys, distinct * sizeof(uint64_t));
      survey->voidCount = distinct;
      done = Follow(&window, lines, &reading, survey);
    }
  }
  if (reading.keys) HeapFree(GetProcessHeap(), 0, reading.keys);
  if (reading.open) HeapFree(GetProcessHeap(), 0, reading.open);
  if (lines) HeapFree(GetProcessHeap(), 0, lines);
  CloseWindow(&window);
  if (!done) FreeJournalSurvey(survey);
  return done;
}

void FreeJournalSurvey(JournalSurvey* survey) {
  if (survey->voidKeys) HeapFree(GetProcessHeap(), 0, survey->voidKeys);
  if (survey->voidLines) HeapFree(GetProcessHeap(), 0, survey->voidLines);
  *survey = JournalSurvey();
}

bool WalkJournalChanges(JournalSource* source, const JournalSurvey& survey, bool lastFirst, JournalChangeSink* sink) {
  Window window = {};
  JournalLine* lines = static_cast<JournalLine*>(HeapAlloc(GetProcessHeap(), 0, 2 * sizeof(JournalLine)));
  // X lines of each key passed so far: behind the walk's place (in order)
  // or ahead of it (last first).
  uint32_t* passed = HeapArray<uint32_t>(survey.voidCount);
  bool done = lines && passed && OpenWindow(source, &window);
  JournalLine* line = lines ? &lines[0] : nullptr;
  JournalLine* held = lines ? &lines[1] : nullptr;
  // An A line is void when an X line with its key comes after it.
  auto voided = [&](const JournalLine& kept) {
    const size_t at = FindVoidKey(survey, VoidKey(kept));
    if (at == survey.voidCount) return false;
    return lastFirst ? passed[at] != 0 : passed[at] < survey.voidLines[at];
  };
  auto passVoid = [&](const JournalLine& x) {
    const size_t at = FindVoidKey(survey, VoidKey(x));
    if (at != survey.voidCount) ++passed[at];
  };
  auto intent = [&]() {
    uint64_t offset = survey.intentOffset;
    bool atEnd = false, failed = false;
    if (ReadLineAt(&window, &offset, line, &atEnd, &failed) != JournalDamage::kNone || atEnd) return false;
    JournalChange change = {};
    change.kind = JournalLineKind::kAboutToCreate;
    change.offset = static_cast<size_t>(survey.intentOffset);
    sink->Change(change, *line);
    return true;
  };
  if (done && lastFirst) {
    if (survey.intentLast) done = intent();
    // From the end back to the header; a W line is met before its change.
    bool haveWritten = false;
    JournalChange written = {};
    uint64_t end = survey.end;
    while (done && end > 0) {
      uint64_t start = 0;
      if (!LineStartBefore(&window, end, &start)) {
        done = false;
        break;
      }
      if (start == 0) break;  // the header
      // The window holds the whole line, its LF included.
      size_t at = static_cast<size_t>(start - window.start);
      bool atEnd = false;
      if (ReadJournalLine(window.bytes, window.size, &at, line, &atEnd) != JournalDamage::kNone || atEnd ||
          window.start + at != end) {
        done = false;
        break;
      }
      if (line->kind == JournalLineKind::kFileWritten) {
        haveWritten = true;
        written.size = line->size;
        written.writeTime = line->writeTime;
      } else {
        if (line->kind == JournalLineKind::kAsideVoid) passVoid(*line);
        if (IsChange(line->kind) && !(line->kind == JournalLineKind::kKeptAside && voided(*line))) {
          JournalChange change = {};
          change.kind = line->kind;
          change.offset = static_cast<size_t>(start);
          change.written = haveWritten;
          change.size = haveWritten ? written.size : 0;
          change.writeTime = haveWritten ? written.writeTime : 0;
          sink->Change(change, *line);
        }
        haveWritten = false;
      }
      end = start;
    }
  } else if (done) {
    // In order; a change waits for the W line that may follow it.
    bool holding = false;
    JournalChange change = {};
    uint64_t offset = 0;
    bool header = true;
    while (offset < survey.end) {
      const uint64_t start = offset;
      bool atEnd = false, failed = false;
      if (ReadLineAt(&window, &offset, line, &atEnd, &failed) != JournalDamage::kNone || atEnd) {
        done = false;
        break;
      }
      if (header) {
        header = false;
        continue;
      }
      if (line->kind == JournalLineKind::kFileWritten && holding) {
        change.written = true;
        change.size = line->size;
        change.writeTime = line->writeTime;
        continue;
      }
      if (holding) sink->Change(change, *held);
      holding = false;
      if (line->kind == JournalLineKind::kAsideVoid) passVoid(*line);
      if (IsChange(line->kind) && !(line->kind == JournalLineKind::kKeptAside && voided(*line))) {
        change = JournalChange();
        change.kind = line->kind;
        change.offset = static_cast<size_t>(start);
        holding = true;
        JournalLine* swap = held;
        held = line;
        line = swap;
      }
    }
    if (done && holding) sink->Change(change, *held);
    if (done && survey.intentLast) done = intent();
  }
  if (passed) HeapFree(GetProcessHeap(), 0, passed);
  if (lines) HeapFree(GetProcessHeap(), 0, lines);
  CloseWindow(&window);
  return done;
}

bool ParseJournal(const char* bytes, size_t size, ParsedJournal* parsed) {
  *parsed = ParsedJournal();
  JournalBytes source(bytes, size, true);
  JournalSurvey survey;
  if (!SurveyJournal(&source, &survey)) return false;
  parsed->changes = HeapArray<JournalChange>(survey.count);
  Collector collector;
  collector.parsed = parsed;
  collector.capacity = survey.count;
  if (!parsed->changes || !WalkJournalChanges(&source, survey, false, &collector)) {
    FreeJournalSurvey(&survey);
    FreeParsedJournal(parsed);
    return false;
  }
  parsed->folderCreated = survey.folderCreated;
  parsed->committed = survey.committed;
  parsed->damage = survey.damage;
  parsed->damageOffset = survey.damage != JournalDamage::kNone ? static_cast<size_t>(survey.end) : 0;
  FreeJournalSurvey(&survey);
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
    case JournalDamage::kTooMany: return L"too many void lines";
  }
  return L"?";
}
