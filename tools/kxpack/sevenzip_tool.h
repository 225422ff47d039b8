// Runs 7zz, the 7-Zip command line, to write and read 7z archives.
#ifndef KX_TOOLS_KXPACK_SEVENZIP_TOOL_H
#define KX_TOOLS_KXPACK_SEVENZIP_TOOL_H

#include <cstdint>
#include <string>
#include <vector>

enum class ArchiveKind {
  Payload,  // solid blocks of a limited size: LZMA2 in independent blocks with
            // the BCJ filter, and data that does not compress stored as it is
  Runtime,  // LZMA with the BCJ2 filter, solid
  // A runtime whose program goes inside another program's runtime archive
  // (the uninstaller in setup's): stored as it is, so that the outer
  // archive's compression finds the files both carry, the core library
  // above all, and keeps them once.
  NestedRuntime
};

struct ArchiveEntry {
  std::string path;
  uint64_t size = 0;
  bool folder = false;
  std::string attributes;
  std::string method;  // as 7-Zip names it, e.g. "BCJ LZMA2:24" or "Copy"; empty without data
};

// Writes a new archive of everything in folder (recursively, hidden files
// included) to archivePath. solidBlockBytes limits a payload's solid blocks.
// threads is the number of compression threads, 0 for twice the cores this
// process may run on; the archive's bytes do not depend on it.
//
// A payload archive's layout, which the setup program may rely on to decode
// on several cores:
//   - files of at least kStoreCandidateBytes whose samples look like random
//     data (compressed media, archives) are stored (method Copy) in solid
//     blocks of their own, which come first in the archive;
//   - everything else is BCJ + LZMA2 in solid blocks of at most
//     solidBlockBytes (a larger file is a block of its own); each LZMA2
//     stream is cut into independent blocks of Lzma2BlockBytes(solidBlockBytes)
//     unpacked bytes, each starting with a dictionary reset, so blocks can be
//     encoded, and decoded, side by side.
bool CreateArchive(ArchiveKind kind, const std::string& folder, const std::string& archivePath,
                   uint64_t solidBlockBytes, std::string* error, unsigned threads = 0);

constexpr uint64_t kStoreCandidateBytes = 256 << 10;

// A quarter of the solid block, between 256 KiB and 16 MiB (the dictionary
// of the compression level we use): a 64 MiB block is four LZMA2 blocks.
uint64_t Lzma2BlockBytes(uint64_t solidBlockBytes);

// Whether a file's data looks like it would not compress: every one of up to
// 16 evenly spaced 64 KiB samples carries at least 7.98 bits of information
// per byte by its byte frequencies (random data: 7.997; a PNG image LZMA
// still shrinks by a tenth: 7.96). false when it cannot be read.
bool LooksIncompressible(const std::string& path, uint64_t size);

// Lists an archive's entries; false when 7zz cannot open it.
bool ListArchive(const std::string& archivePath, std::vector<ArchiveEntry>* entries, std::string* error);

// Extracts the archive's entry name (a path inside it, '/' separated) into
// folder with its path; false when 7zz fails. An entry the archive does not
// hold is no failure: the file is then missing.
bool ExtractArchiveEntry(const std::string& archivePath, const std::string& name, const std::string& folder,
                         std::string* error);

// Runs a program with arguments (no shell), output sent to outputPath or
// /dev/null. Returns its exit status, or -1 when it could not be run.
int RunProgram(const std::vector<std::string>& arguments, const std::string& workingFolder,
               const std::string& outputPath);

#endif
