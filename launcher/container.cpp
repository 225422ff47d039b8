#include "launcher/container.h"

#include "7zCrc.h"
#include "base/container_format.h"
#include "base/container_search.h"
#include "base/handle_guard.h"

namespace {

bool ReadExactly(HANDLE file, void* buffer, DWORD size) {
  DWORD read = 0;
  return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

size_t ReadSome(void* file, unsigned char* buffer, size_t capacity) {
  DWORD read = 0;
  if (!ReadFile(static_cast<HANDLE>(file), buffer, static_cast<DWORD>(capacity), &read, nullptr)) return 0;
  return read;
}

uint32_t SdkCrc(const void* data, size_t size) { return CrcCalc(data, size); }

bool SeekTo(HANDLE file, uint64_t position) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(position);
  return SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

bool IsSevenZipStartHeader(const unsigned char* header) { return kxformat::IsSevenZipStartHeader(header, SdkCrc); }

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
  uint64_t start = 0;
  if (!kxformat::RuntimeSearchStart(containerOffset, payloadLength, &start) || !SeekTo(file, start)) return false;
  static unsigned char window[kxformat::kArchiveSearchWindow];
  return kxformat::SearchRuntimeArchive(ReadSome, file, start, SdkCrc, window, sizeof window, archivePosition);
}
