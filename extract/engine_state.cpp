#include "extract/engine_state.h"

ExtractEngine g_extract;
std::atomic<bool> g_extractCancelled{false};
int32_t g_extractedFileCount = 0;
uint64_t g_extractedBytes = 0;
