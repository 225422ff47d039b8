// Composes a package file (stub, container header, archives) and reads one
// back the way the running program does.
#ifndef KX_TOOLS_KXPACK_CONTAINER_FILE_H
#define KX_TOOLS_KXPACK_CONTAINER_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "base/container_format.h"

// Stub bytes followed by "KX", the payload length, the file size and both archives.
std::vector<unsigned char> ComposePackage(const std::vector<unsigned char>& stub,
                                          const std::vector<unsigned char>& payloadArchive,
                                          const std::vector<unsigned char>& runtimeArchive);

struct PackageLayout {
  uint32_t containerOffset = 0;
  uint64_t payloadLength = 0;
  uint64_t fileSizeField = 0;
  uint64_t runtimePosition = 0;  // absolute position of the runtime archive
  uint64_t runtimeLength = 0;    // the archive's own length, from its start header
  uint32_t certificateOffset = 0;  // an Authenticode signature behind the
  uint32_t certificateSize = 0;    // container; 0 and 0 when unsigned
};

// Reads the layout as the program's reader does: container offset from the
// PE headers, header fields, and the runtime archive found by the same
// search. False with a message when the reader would reject the file, or
// when a signature lies anywhere but behind the runtime archive.
bool ReadPackageLayout(const std::vector<unsigned char>& file, PackageLayout* layout, std::string* error);

// True when the file at path begins as a package: PE headers the reader
// accepts and the container's mark behind the image. Reads a few KiB.
bool LooksLikePackageFile(const std::string& path);

// True when a 7z start header (signature and CRC) begins at data.
bool IsSevenZipStartHeader(const unsigned char* data, size_t available);

#endif
