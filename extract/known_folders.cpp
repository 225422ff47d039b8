#include <wchar.h>

#include "extract/engine_state.h"

namespace {

// The deepest folder the running pass has made sure of. Entries come in
// folder order, so this one path spares nearly every look-up.
wchar_t g_knownFolder[kExtractPathCapacity];

}  // namespace

void ForgetKnownFolders() { g_knownFolder[0] = L'\0'; }

void RememberFolder(const wchar_t* folder, size_t length) {
  if (length >= kExtractPathCapacity) return;
  wmemcpy(g_knownFolder, folder, length);
  g_knownFolder[length] = L'\0';
}

bool IsKnownFolder(const wchar_t* folder, size_t length) {
  return length > 0 && wcsncmp(folder, g_knownFolder, length) == 0 &&
         (g_knownFolder[length] == L'\0' || g_knownFolder[length] == L'\\');
}
