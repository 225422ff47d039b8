#include "launcher/payload_size.h"

#include "base/container_format.h"
#include "launcher/archive_reader.h"
#include "launcher/launcher_main.h"

bool PayloadUnpackedBytes(uint64_t* bytes) {
  *bytes = 0;
  ArchiveReader reader;
  ArchiveReaderInit(&reader);
  const uint64_t offset = uint64_t{g_launcher.container.offset} + kxformat::kContainerHeaderSize;
  bool read = ArchiveReaderOpenFile(&reader, g_launcher.modulePath) == 0 && ArchiveReaderSeek(&reader, offset) == 0 &&
              ArchiveReaderOpenDatabase(&reader) == SZ_OK;
  if (read) {
    const uint32_t count = ArchiveEntryCount(&reader);
    for (uint32_t index = 0; index < count; ++index)
      if (!ArchiveEntryIsDir(&reader, index)) *bytes += ArchiveEntrySize(&reader, index);
  }
  ArchiveReaderClose(&reader);
  return read;
}
