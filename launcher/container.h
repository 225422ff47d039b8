// Finding the package container (base/container_format.h) in the running
// program's own file.
#ifndef KX_LAUNCHER_CONTAINER_H
#define KX_LAUNCHER_CONTAINER_H

#include <windows.h>
#include <stdint.h>

#include "base/container_format.h"

struct ContainerInfo {
  uint32_t offset;          // file offset of the container header
  uint64_t payloadLength;   // byte length of the payload archive
  uint64_t fileSizeField;   // stored file size; only required to be non-zero
};

// Reads the container header of the program file at path. Returns false when
// the file cannot be read, is no PE32+ image whose headers fit the first 4096
// bytes (and whose end a 32-bit offset reaches), or ends before the header
// fields. The offset and payload length are
// zeroed first and each field is stored as soon as it has been read.
bool LocateContainer(const wchar_t* path, ContainerInfo* info);

// Searches the open program file for the runtime archive's 7z start header,
// from container offset + 18 + payload length to the end of the file
// (base/container_search.h). On success stores the absolute file position of
// the start header. False also when that start lies beyond the last file
// position. The file position is left wherever the search stopped.
bool FindRuntimeArchive(HANDLE file, uint32_t containerOffset, uint64_t payloadLength,
                        uint64_t* archivePosition);

// True when the 32 bytes at header are a 7z start header: signature and the
// CRC-32 of its last 20 bytes. The CRC tables must have been generated.
bool IsSevenZipStartHeader(const unsigned char* header);

#endif
