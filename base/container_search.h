// The running program's search for the runtime archive behind the payload
// (base/container_format.h gives the layout). Portable (no Windows header):
// launcher/container.cpp hands in its file reads and the LZMA SDK's CRC, the
// fuzz targets memory and base/crc32.h.
//
// The file is read front to back in windows; the last 32 bytes of each
// window are kept for the next, so that a start header across a window's
// edge is still seen. A start header is taken only when at least one more
// byte of the file follows it.
#ifndef KX_BASE_CONTAINER_SEARCH_H
#define KX_BASE_CONTAINER_SEARCH_H

#include <stddef.h>
#include <stdint.h>

namespace kxformat {

// The CRC-32 of size bytes (the polynomial of 7z).
using SearchCrc32 = uint32_t (*)(const void* data, size_t size);

// Reads up to capacity bytes from the file's current position into buffer
// and returns how many: 0 at the end of the file or when reading failed.
using SearchRead = size_t (*)(void* file, unsigned char* buffer, size_t capacity);

// Where the search begins: behind the container header and the payload.
// False when the payload length runs that position past the range of a
// file position (2^63 - 1): a damaged or hostile header, never a package.
bool RuntimeSearchStart(uint32_t containerOffset, uint64_t payloadLength, uint64_t* start);

// True when the 32 bytes at header are a 7z start header: the signature and
// the CRC-32 of its last 20 bytes.
bool IsSevenZipStartHeader(const unsigned char* header, SearchCrc32 crc);

// Reads the file, whose position the caller has put at start, until a start
// header is found, into window (windowSize bytes, more than 32). True with
// the header's absolute position; false when the file ended (or a read
// failed) first.
bool SearchRuntimeArchive(SearchRead read, void* file, uint64_t start, SearchCrc32 crc, unsigned char* window,
                          size_t windowSize, uint64_t* position);

}  // namespace kxformat

#endif
