// The package container appended to each program file, and how a running
// program finds it.
//
//   file offset                          contents
//   0 .. container offset                PE32+ image, ending with its sections' raw data
//   container offset + 0,  2 bytes       magic "KX" (written, never checked)
//   container offset + 2,  u64 LE        payload length (0 in the uninstaller)
//   container offset + 10, u64 LE        file size field (must be non-zero)
//   container offset + 18                payload archive, payload length bytes
//   container offset + 18 + payload len  runtime archive, to the end of the file
//
// The container offset is PointerToRawData + SizeOfRawData of the section with
// the highest PointerToRawData (the first listed on a tie). Both archives are
// complete 7z archives whose positions are relative to their own first byte.
#ifndef KX_LAUNCHER_CONTAINER_H
#define KX_LAUNCHER_CONTAINER_H

#include <windows.h>
#include <stdint.h>

constexpr uint32_t kContainerHeaderSize = 18;
constexpr DWORD kPeHeaderBufferSize = 4096;
constexpr DWORD kArchiveSearchWindow = 32768;
constexpr DWORD kSevenZipStartHeaderSize = 32;

struct ContainerInfo {
  uint32_t offset;          // file offset of the container header
  uint64_t payloadLength;   // byte length of the payload archive
  uint64_t fileSizeField;   // stored file size; only required to be non-zero
};

// Reads the container header of the program file at path. Returns false when
// the file cannot be read, is no PE32+ image whose headers fit the first 4096
// bytes, or ends before the header fields. The offset and payload length are
// zeroed first and each field is stored as soon as it has been read.
bool LocateContainer(const wchar_t* path, ContainerInfo* info);

// Searches the open program file for the runtime archive's 7z start header,
// from container offset + 18 + payload length to the end of the file. On
// success stores the absolute file position of the start header. The file
// position is left wherever the search stopped.
bool FindRuntimeArchive(HANDLE file, uint32_t containerOffset, uint64_t payloadLength,
                        uint64_t* archivePosition);

// True when the 32 bytes at header are a 7z start header: signature and the
// CRC-32 of its last 20 bytes. The CRC tables must have been generated.
bool IsSevenZipStartHeader(const unsigned char* header);

#endif
