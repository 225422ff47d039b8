// CheckFileProp: the per-file decision the extraction asks before each file.
#include <wchar.h>

#include "core/file_decision.h"
#include "core/kxcore.h"

extern "C" int CheckFileProp(int, wchar_t* path, int sizeBytes) {
  // Only a terminated path inside the caller's buffer is looked at; anything
  // else is left to the engine, which reports what it cannot write.
  if (!path || sizeBytes < static_cast<int>(sizeof(wchar_t)) ||
      !wmemchr(path, L'\0', static_cast<size_t>(sizeBytes) / sizeof(wchar_t)))
    return kxcore::kFileInstall;
  try {
    return kxcore::DecideFile(path, kxcore::AskReplaceFile);
  } catch (...) {
    return kxcore::kFileInstall;
  }
}
