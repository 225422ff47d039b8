#include "extract/payload_size.h"

#include "base/container_format.h"
#include "extract/entry_cursor.h"
#include "extract/payload_archive.h"
#include "launcher/launcher_main.h"

bool PayloadUnpackedBytes(uint64_t* bytes) {
  *bytes = 0;
  // Read before the extraction, never beside it.
  static PayloadArchive archive;
  PayloadArchiveInit(&archive);
  const uint64_t offset = uint64_t{g_launcher.container.offset} + kxformat::kContainerHeaderSize;
  bool read = PayloadArchiveOpenFile(&archive, g_launcher.modulePath) == 0 && PayloadArchiveOpen(&archive, offset) == SZ_OK;
  if (read) {
    EntryCursor entries;
    StartEntryCursor(&entries, &archive.header, false);
    while (read && EntriesLeft(&entries)) {
      ArchiveEntry entry;
      read = NextEntry(&entries, &entry, nullptr, 0) == SZ_OK;
      if (read && !entry.isDir) *bytes += entry.size;
    }
    if (!read) *bytes = 0;
  }
  PayloadArchiveClose(&archive);
  return read;
}
