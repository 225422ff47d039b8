#include "base/entry_names.h"

#include "base/device_names.h"

namespace kxentry {

bool IsContainedEntryName(const char16_t* name) {
  if (name[0] == u'\0' || IsEntryNameSeparator(name[0])) return false;
  // Windows drops trailing dots and blanks from path components, so ". ."
  // or "... " may still climb a level: any component made of nothing but
  // dots and blanks is refused.
  bool onlyDotsAndBlanks = true;
  bool hasDot = false;
  for (const char16_t* p = name;; ++p) {
    if (*p == u':') return false;
    if (*p == u'\0' || IsEntryNameSeparator(*p)) {
      if (hasDot && onlyDotsAndBlanks) return false;
      if (*p == u'\0') return true;
      onlyDotsAndBlanks = true;
      hasDot = false;
    } else if (*p == u'.') {
      hasDot = true;
    } else if (*p != u' ') {
      onlyDotsAndBlanks = false;
    }
  }
}

bool IsSafeEntryName(const char16_t* name) {
  if (!IsContainedEntryName(name)) return false;
  const char16_t* start = name;
  for (const char16_t* p = name;; ++p) {
    if (*p == u'\0' || IsEntryNameSeparator(*p)) {
      if (IsDeviceName(start, static_cast<size_t>(p - start))) return false;
      if (*p == u'\0') return true;
      start = p + 1;
    }
  }
}

}  // namespace kxentry
