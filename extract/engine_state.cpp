#include "extract/engine_state.h"

ExtractEngine g_extract;
std::atomic<bool> g_extractCancelled{false};
int32_t g_extractedFileCount = 0;
uint64_t g_extractedBytes = 0;

ExtractResult ExtractResultOfSdk(SRes code) {
  if (code == SZ_OK) return kExtractDone;
  if (code == SZ_ERROR_MEM) return {ExtractOutcome::kOutOfMemory, code};
  return {ExtractOutcome::kArchiveError, code};
}
