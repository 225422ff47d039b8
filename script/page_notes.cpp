#include "script/page_notes.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "base/handle_guard.h"

namespace {

// The page files kxpack writes are a few kilobytes; this bounds what a
// damaged runtime could make setup read.
constexpr DWORD kPageMaxBytes = 1u << 20;
constexpr size_t kNoteMaxBytes = 16384;

bool Append(char* out, size_t capacity, size_t* length, const char* text) {
  size_t add = strlen(text);
  if (*length + add + 1 > capacity) return false;
  memcpy(out + *length, text, add + 1);
  *length += add;
  return true;
}

}  // namespace

size_t RtfNoteParagraph(const wchar_t* note, char* out, size_t capacity) {
  size_t length = 0;
  if (capacity == 0) return 0;
  out[0] = '\0';
  if (!Append(out, capacity, &length, "\\par\\b ")) return 0;
  for (const wchar_t* c = note; *c; ++c) {
    char piece[16];
    if (*c == L'|') {
      strcpy(piece, "\\line ");
    } else if (*c >= 0x20 && *c < 0x7F && *c != L'\\' && *c != L'{' && *c != L'}') {
      piece[0] = static_cast<char>(*c);
      piece[1] = '\0';
    } else {
      // RTF's \u takes a signed 16-bit number; the '?' is what a reader
      // without Unicode shows. The C runtime's own _snprintf: the standard
      // name is MinGW's replacement, about 20 KB of the setup program.
      // "\\u-32768?" fits the piece, so it is always terminated.
      _snprintf(piece, sizeof piece, "\\u%d?", static_cast<int>(static_cast<short>(*c)));
    }
    if (!Append(out, capacity, &length, piece)) return 0;
  }
  if (!Append(out, capacity, &length, "\\b0\\par\r\n")) return 0;
  return length;
}

bool WriteRtfWithNote(const wchar_t* source, const wchar_t* target, const wchar_t* note) {
  static char page[kPageMaxBytes];
  static char paragraph[kNoteMaxBytes];
  DWORD size = 0;
  {
    FileHandle in(CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!in) return false;
    LARGE_INTEGER total;
    if (!GetFileSizeEx(in.get(), &total) || total.QuadPart <= 0 || total.QuadPart > kPageMaxBytes) return false;
    if (!ReadFile(in.get(), page, static_cast<DWORD>(total.QuadPart), &size, nullptr) || size != total.QuadPart)
      return false;
  }
  DWORD close = size;
  while (close > 0 && page[close - 1] != '}') --close;
  if (close == 0) return false;
  --close;
  size_t noteLength = RtfNoteParagraph(note, paragraph, sizeof paragraph);
  if (noteLength == 0) return false;
  FileHandle out(CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return false;
  DWORD written = 0;
  bool good = WriteFile(out.get(), page, close, &written, nullptr) && written == close &&
              WriteFile(out.get(), paragraph, static_cast<DWORD>(noteLength), &written, nullptr) &&
              written == noteLength &&
              WriteFile(out.get(), page + close, size - close, &written, nullptr) && written == size - close;
  return good;
}
