#include "base/long_path.h"

#include <stdio.h>
#include <wchar.h>

namespace {

bool Copy(const wchar_t* prefix, const wchar_t* rest, wchar_t* out, size_t capacity) {
  const size_t prefixLength = wcslen(prefix);
  const size_t restLength = wcslen(rest);
  if (prefixLength + restLength >= capacity) {
    if (capacity > 0) out[0] = L'\0';
    return false;
  }
  wmemcpy(out, prefix, prefixLength);
  wmemcpy(out + prefixLength, rest, restLength + 1);
  return true;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t* AllocatePath() {
  return static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, kLongPathCapacity * sizeof(wchar_t)));
}

}  // namespace

bool PrefixLongPath(const wchar_t* path, wchar_t* out, size_t capacity) {
  if (IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3]))
    return Copy(L"", path, out, capacity);
  if (IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] != L'\0') return Copy(L"\\\\?\\UNC\\", path + 2, out, capacity);
  const bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                     path[1] == L':' && IsSeparator(path[2]);
  if (drive) return Copy(L"\\\\?\\", path, out, capacity);
  if (capacity > 0) out[0] = L'\0';
  return false;
}

Win32Path::Win32Path(const wchar_t* path) : text_(path) {
  if (!path || wcsnlen(path, kPlainPathLimit) < kPlainPathLimit) return;
  owned_ = AllocatePath();
  wchar_t* full = AllocatePath();
  if (owned_ && full) {
    DWORD length = GetFullPathNameW(path, kLongPathCapacity, full, nullptr);
    if (length > 0 && length < kLongPathCapacity && PrefixLongPath(full, owned_, kLongPathCapacity)) text_ = owned_;
  }
  if (full) HeapFree(GetProcessHeap(), 0, full);
}

Win32Path::~Win32Path() {
  if (owned_) HeapFree(GetProcessHeap(), 0, owned_);
}

LongPathBuffer::LongPathBuffer() : data_(AllocatePath()) {
  if (data_) data_[0] = L'\0';
}

LongPathBuffer::~LongPathBuffer() {
  if (data_) HeapFree(GetProcessHeap(), 0, data_);
}

void SystemErrorText(DWORD error, wchar_t* text, size_t capacity) {
  if (capacity == 0) return;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                static_cast<DWORD>(capacity), nullptr);
  while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' ')) --length;
  if (length == 0) {
    _snwprintf(text, capacity, L"Error %lu", static_cast<unsigned long>(error));
    text[capacity - 1] = L'\0';
    return;
  }
  text[length] = L'\0';
}
