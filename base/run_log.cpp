#include "base/run_log.h"

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

#include "base/handle_guard.h"

namespace {

// Opened and closed on the main thread while no other thread logs.
FileHandle g_log;

constexpr size_t kTimeUnits = 24;  // "2024-05-01 13:45:07.123 "
// The text with its line breaks widened to " | ", and "..." when cut.
constexpr size_t kLineUnits = 2 * (kTimeUnits + kRunLogLineCapacity);
// Each UTF-16 unit takes at most 3 bytes of UTF-8 (a surrogate pair 4 for 2);
// CR LF follow.
constexpr size_t kLineBytes = 3 * kLineUnits + 2;

HANDLE OpenForAppending(const wchar_t* path, DWORD disposition) {
  // Append-only access makes every write land at the current end of the
  // file, whoever else has it open.
  return CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Append(wchar_t* buffer, size_t capacity, size_t* length, const wchar_t* text) {
  size_t add = wcslen(text);
  if (*length + add >= capacity) return false;
  wmemcpy(buffer + *length, text, add + 1);
  *length += add;
  return true;
}

bool IsUnfitForFileName(wchar_t c) { return c < 32 || wcschr(L"\\/:*?\"<>|", c) != nullptr; }

}  // namespace

bool OpenRunLog(const wchar_t* path) {
  g_log.reset(OpenForAppending(path, OPEN_ALWAYS));
  return g_log.valid();
}

bool OpenNewRunLog(const wchar_t* folder, const wchar_t* title, const wchar_t* program, wchar_t* path,
                   size_t capacity) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t stamp[32];
  _snwprintf(stamp, 31, L" %04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
             now.wSecond);
  stamp[31] = L'\0';
  size_t length = 0;
  path[0] = L'\0';
  if (!Append(path, capacity, &length, folder)) return false;
  const size_t nameStart = length;
  if (!Append(path, capacity, &length, title) || !Append(path, capacity, &length, L" ") ||
      !Append(path, capacity, &length, program) || !Append(path, capacity, &length, stamp))
    return false;
  for (size_t i = nameStart; i < length; ++i)
    if (IsUnfitForFileName(path[i])) path[i] = L'_';
  const size_t stemLength = length;
  for (int attempt = 1; attempt <= 100; ++attempt) {
    length = stemLength;
    path[length] = L'\0';
    wchar_t suffix[16];
    _snwprintf(suffix, 15, attempt == 1 ? L".log" : L"-%d.log", attempt);
    suffix[15] = L'\0';
    if (!Append(path, capacity, &length, suffix)) return false;
    g_log.reset(OpenForAppending(path, CREATE_NEW));
    if (g_log) return true;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

void CloseRunLog() { g_log.reset(); }

bool RunLogActive() { return g_log.valid(); }

void LogLine(const wchar_t* format, ...) {
  if (!g_log) return;
  DWORD lastError = GetLastError();  // callers report errors after logging them
  wchar_t text[kTimeUnits + kRunLogLineCapacity];
  SYSTEMTIME now;
  GetLocalTime(&now);
  int timeLength = _snwprintf(text, kTimeUnits, L"%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear, now.wMonth,
                              now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  if (timeLength < 0) timeLength = 0;

  va_list arguments;
  va_start(arguments, format);
  wchar_t* body = text + timeLength;
  const size_t bodyCapacity = kRunLogLineCapacity;
  int written = _vsnwprintf(body, bodyCapacity - 1, format, arguments);
  va_end(arguments);
  body[bodyCapacity - 1] = L'\0';
  bool cut = written < 0 || static_cast<size_t>(written) >= bodyCapacity - 1;

  // One step, one line: line breaks inside the text become " | ".
  wchar_t line[kLineUnits];
  size_t length = 0;
  for (const wchar_t* p = text; *p; ++p) {
    if (length + 6 >= kLineUnits) {
      cut = true;
      break;
    }
    if (*p == L'\r' || *p == L'\n') {
      if (*p == L'\r' && p[1] == L'\n') ++p;
      wmemcpy(line + length, L" | ", 3);
      length += 3;
    } else {
      line[length++] = *p;
    }
  }
  if (cut) {
    wmemcpy(line + length, L"...", 3);
    length += 3;
  }
  char bytes[kLineBytes];
  int size = WideCharToMultiByte(CP_UTF8, 0, line, static_cast<int>(length), bytes, sizeof bytes - 2, nullptr, nullptr);
  if (size < 0) size = 0;
  bytes[size++] = '\r';
  bytes[size++] = '\n';
  DWORD done = 0;
  WriteFile(g_log.get(), bytes, static_cast<DWORD>(size), &done, nullptr);
  SetLastError(lastError);
}
