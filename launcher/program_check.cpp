#include "launcher/program_check.h"

#include <windows.h>

#include "base/package_format.h"
#include "launcher/archive_reader.h"
#include "launcher/container.h"

namespace {

constexpr size_t kEntryNameCapacity = MAX_PATH;

// True when the archive holds a file of that name (without regard to case).
bool HoldsFile(const ArchiveReader* reader, const wchar_t* name) {
  for (uint32_t i = 0; i < ArchiveEntryCount(reader); ++i) {
    if (ArchiveEntryIsDir(reader, i) || ArchiveEntryNameLength(reader, i) > kEntryNameCapacity) continue;
    wchar_t entry[kEntryNameCapacity];
    ArchiveEntryName(reader, i, entry);
    if (CompareStringOrdinal(entry, -1, name, -1, TRUE) == CSTR_EQUAL) return true;
  }
  return false;
}

}  // namespace

ProgramCheck CheckPackagedProgram(const wchar_t* path) {
  if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return ProgramCheck::kMissing;
  ContainerInfo container;
  if (!LocateContainer(path, &container) || container.offset == 0 || container.fileSizeField == 0)
    return ProgramCheck::kNotAProgram;
  ArchiveReader reader;
  ArchiveReaderInit(&reader);
  uint64_t position = 0;
  const bool usable = ArchiveReaderOpenFile(&reader, path) == 0 &&
                      FindRuntimeArchive(ArchiveReaderFile(&reader), container.offset, container.payloadLength,
                                         &position) &&
                      ArchiveReaderSeek(&reader, position) == 0 && ArchiveReaderOpenDatabase(&reader) == SZ_OK &&
                      HoldsFile(&reader, kxformat::kCoreLibraryFileW) &&
                      HoldsFile(&reader, kxformat::kPackageDataFileW);
  ArchiveReaderClose(&reader);
  return usable ? ProgramCheck::kUsable : ProgramCheck::kNotAProgram;
}
