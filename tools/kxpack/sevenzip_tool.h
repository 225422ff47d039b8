// Runs 7zz, the 7-Zip command line, to write and read 7z archives.
#ifndef KX_TOOLS_KXPACK_SEVENZIP_TOOL_H
#define KX_TOOLS_KXPACK_SEVENZIP_TOOL_H

#include <cstdint>
#include <string>
#include <vector>

enum class ArchiveKind {
  Payload,  // LZMA2 with the BCJ filter, one thread, solid blocks of a limited size
  Runtime   // LZMA with the BCJ2 filter, solid
};

struct ArchiveEntry {
  std::string path;
  uint64_t size = 0;
  bool folder = false;
  std::string attributes;
};

// Writes a new archive of everything in folder (recursively, hidden files
// included) to archivePath. solidBlockBytes limits a payload's solid blocks.
bool CreateArchive(ArchiveKind kind, const std::string& folder, const std::string& archivePath,
                   uint64_t solidBlockBytes, std::string* error);

// Lists an archive's entries; false when 7zz cannot open it.
bool ListArchive(const std::string& archivePath, std::vector<ArchiveEntry>* entries, std::string* error);

// Runs a program with arguments (no shell), output sent to outputPath or
// /dev/null. Returns its exit status, or -1 when it could not be run.
int RunProgram(const std::vector<std::string>& arguments, const std::string& workingFolder,
               const std::string& outputPath);

#endif
