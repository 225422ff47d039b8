#include "core/file_decision.h"

#include <atomic>

#include "base/long_path.h"
#include "core/variables.h"

namespace kxcore {
namespace {

enum StandingAnswer { kNone, kReplaceAll, kSkipAll };

// Written and read on the extraction thread; atomic so that a question asked
// from another thread cannot tear it.
std::atomic<int> g_standing{kNone};

bool IsExistingFile(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(Win32Path(path).get());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

FileDecision DecideFile(const wchar_t* path, ReplaceQuestion ask) {
  // Silent runs install every file whether it exists or not, so they skip
  // the look-up, which costs a directory scan for every new file under Wine.
  if (Evaluate(L"%SILENT%") == L"1") return kFileInstall;
  // A folder of that name cannot be replaced by a file: the engine's own
  // create-file message tells the user, so nothing is asked here.
  if (!IsExistingFile(path)) return kFileInstall;
  switch (g_standing.load()) {
    case kReplaceAll: return kFileInstall;
    case kSkipAll: return kFileSkip;
    default: break;
  }
  switch (ask(path)) {
    case ReplaceAnswer::Replace: return kFileInstall;
    case ReplaceAnswer::Skip: return kFileSkip;
    case ReplaceAnswer::ReplaceAll: g_standing = kReplaceAll; return kFileInstall;
    case ReplaceAnswer::SkipAll: g_standing = kSkipAll; return kFileSkip;
  }
  return kFileSkip;
}

void ResetFileDecisions() { g_standing = kNone; }

}  // namespace kxcore
