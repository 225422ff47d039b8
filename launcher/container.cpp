#include "launcher/container.h"

#include <string.h>

#include "7zCrc.h"
#include "base/container_format.h"
#include "base/handle_guard.h"

namespace {

bool ReadExactly(HANDLE file, void* buffer, DWORD size) {
  DWORD read = 0;
  return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

bool SeekTo(HANDLE file, uint64_t position) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(position);
  return SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

bool IsSevenZipStartHeader(const unsigned char* header) {
  return kxformat::HasSevenZipSignature(header) &&
         CrcCalc(header + kxformat::kStartHeaderCrcFrom,
                 kxformat::kSevenZipStartHeaderSize - kxformat::kStartHeaderCrcFrom) ==
             kxbytes::ReadU32(header + kxformat::kStartHeaderCrcField);
}

bool LocateContainer(const wchar_t* path, ContainerInfo* info) {
  info->offset = 0;
  info->payloadLength = 0;

  FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;

  unsigned char headers[kxformat::kHeaderBufferSize];
  DWORD bytesRead = 0;
  if (!ReadFile(file.get(), headers, sizeof headers, &bytesRead, nullptr)) return false;

  info->offset = kxformat::ContainerOffsetFromHeaders(headers, bytesRead);
  if (info->offset == 0) return false;

  if (!SeekTo(file.get(), static_cast<uint64_t>(info->offset) + kxformat::kPayloadLengthField)) return false;
  unsigned char field[8];
  if (!ReadExactly(file.get(), field, sizeof field)) return false;
  info->payloadLength = kxbytes::ReadU64(field);
  if (!ReadExactly(file.get(), field, sizeof field)) return false;
  info->fileSizeField = kxbytes::ReadU64(field);
  return true;
}

bool FindRuntimeArchive(HANDLE file, uint32_t containerOffset, uint64_t payloadLength,
                        uint64_t* archivePosition) {
  CrcGenerateTable();
  uint64_t windowStart = static_cast<uint64_t>(containerOffset) + kxformat::kContainerHeaderSize + payloadLength;
  if (!SeekTo(file, windowStart)) return false;

  static unsigned char window[kxformat::kArchiveSearchWindow];
  DWORD held = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, window + held, kxformat::kArchiveSearchWindow - held, &read, nullptr) || read == 0)
      return false;
    held += read;
    if (held <= kxformat::kSevenZipStartHeaderSize) continue;

    const DWORD examined = held - kxformat::kSevenZipStartHeaderSize;
    for (DWORD i = 0; i < examined; ++i) {
      if (window[i] == kxformat::kSevenZipSignature[0] && IsSevenZipStartHeader(window + i)) {
        *archivePosition = windowStart + i;
        return true;
      }
    }
    // Keep the last 32 bytes so a header across the window edge is still seen.
    windowStart += examined;
    memmove(window, window + examined, kxformat::kSevenZipStartHeaderSize);
    held = kxformat::kSevenZipStartHeaderSize;
  }
}
