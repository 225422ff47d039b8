#include "extract/engine_state.h"

namespace {

constexpr uint32_t kUnixExtension = 0x8000;  // FILE_ATTRIBUTE_UNIX_EXTENSION

}  // namespace

uint32_t WindowsAttributes(uint32_t stored) {
  if (stored & kUnixExtension) return stored & (kUnixExtension - 1);
  return stored;
}
