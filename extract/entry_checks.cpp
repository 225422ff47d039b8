#include "extract/entry_checks.h"

namespace {

constexpr uint32_t kUnixExtension = 0x8000;  // FILE_ATTRIBUTE_UNIX_EXTENSION

}  // namespace

bool StartEntryPath(char16_t* path, size_t capacity, const char16_t* destination, size_t nameUnits,
                    size_t* nameStart) {
  if (nameUnits == 0 || nameUnits > capacity) return false;
  size_t length = 0;
  while (length < capacity && destination[length] != u'\0') ++length;
  // The backslash and a name of at least one unit must fit behind it.
  if (length + 1 + nameUnits > capacity) return false;
  for (size_t i = 0; i < length; ++i) path[i] = destination[i];
  if (length == 0 || path[length - 1] != u'\\') path[length++] = u'\\';
  path[length] = u'\0';
  *nameStart = length;
  return length + nameUnits <= capacity;
}

uint32_t WindowsAttributes(uint32_t stored) {
  if (stored & kUnixExtension) return stored & (kUnixExtension - 1);
  return stored;
}

bool EntryLevelsFit(const char16_t* name) {
  size_t level = 0;
  for (; *name != u'\0'; ++name) {
    level = (*name == u'/' || *name == u'\\') ? 0 : level + 1;
    if (level > kMaxEntryLevelUnits) return false;
  }
  return true;
}
