#include <wchar.h>

#include "base/long_path.h"
#include "extract/extraction.h"

bool DirectoryExists(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(Win32Path(path).get());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void AddTrailingBackslash(wchar_t* path) {
  size_t length = wcslen(path);
  if (length > 0 && path[length - 1] == L'\\') return;
  path[length] = L'\\';
  path[length + 1] = L'\0';
}
