#include "base/path_list.h"

#include <windows.h>
#include <wchar.h>

namespace {

// The entry's length without its trailing backslashes (a root keeps one).
size_t TrimmedLength(const wchar_t* entry, size_t length) {
  while (length > 1 && entry[length - 1] == L'\\' && !(length == 3 && entry[1] == L':')) --length;
  return length;
}

bool SameEntry(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
  aLength = TrimmedLength(a, aLength);
  bLength = TrimmedLength(b, bLength);
  if (aLength == 0 || bLength == 0) return false;
  return CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) == CSTR_EQUAL;
}

// The start of the first entry equal to entry and its length; false when
// there is none.
bool FindEntry(const wchar_t* list, const wchar_t* entry, size_t* start, size_t* length) {
  const size_t entryLength = wcslen(entry);
  for (size_t at = 0;;) {
    const wchar_t* end = wcschr(list + at, L';');
    const size_t size = end ? static_cast<size_t>(end - (list + at)) : wcslen(list + at);
    if (SameEntry(list + at, size, entry, entryLength)) {
      *start = at;
      *length = size;
      return true;
    }
    if (!end) return false;
    at += size + 1;
  }
}

}  // namespace

bool PathListHolds(const wchar_t* list, const wchar_t* entry) {
  size_t start, length;
  return FindEntry(list, entry, &start, &length);
}

bool PathListAppend(const wchar_t* list, const wchar_t* entry, wchar_t* out, size_t capacity) {
  const size_t listLength = wcslen(list);
  const bool separator = listLength > 0 && list[listLength - 1] != L';';
  const size_t total = listLength + (separator ? 1 : 0) + wcslen(entry);
  if (total + 1 > capacity) return false;
  wmemmove(out, list, listLength);
  out[listLength] = L'\0';
  if (separator) wcscat(out, L";");
  wcscat(out, entry);
  return true;
}

bool PathListRemove(const wchar_t* list, const wchar_t* entry, wchar_t* out, size_t capacity) {
  const size_t listLength = wcslen(list);
  if (listLength + 1 > capacity) return false;
  size_t start, length;
  if (!FindEntry(list, entry, &start, &length)) {
    wmemmove(out, list, listLength + 1);
    return false;
  }
  // The entry goes with one separator: the one after it, or, for the last
  // entry, the one before it.
  size_t cutStart = start, cutEnd = start + length;
  if (cutEnd < listLength)
    ++cutEnd;
  else if (cutStart > 0)
    --cutStart;
  wmemmove(out, list, cutStart);
  wmemmove(out + cutStart, list + cutEnd, listLength - cutEnd + 1);
  return true;
}
