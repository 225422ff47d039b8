// Files and folders for kxpack: whole-file reads of regular files only,
// writes that never leave a partial file, and a private scratch folder.
#ifndef KX_TOOLS_KXPACK_FILE_IO_H
#define KX_TOOLS_KXPACK_FILE_IO_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The most kxpack reads into memory for each kind of file: far above any
// real one, far below what a mistaken path (a disk image, a log) could cost.
constexpr uint64_t kMaxDescriptionBytes = 1ull << 20;
constexpr uint64_t kMaxPageBytes = 16ull << 20;      // pages, images, icons
constexpr uint64_t kMaxPartBytes = 256ull << 20;     // stubs, the core library, runtime data
constexpr uint64_t kMaxProgramBytes = 64ull << 30;   // archives and finished programs

// A file as the file system knows it, whatever path reaches it.
struct FileIdentity {
  uint64_t device = 0, inode = 0;
  bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

// Reads a whole regular file of at most maxBytes. The file is opened first
// (without waiting for a FIFO's writer) and judged by what was opened, so a
// device, FIFO, socket or folder is refused before a byte is read, and a
// file that grows while it is read is refused rather than followed. False
// with a message naming path; identity, when given, gets the file's.
bool ReadRegularFile(const std::string& path, uint64_t maxBytes, std::vector<unsigned char>* bytes,
                     std::string* error, FileIdentity* identity = nullptr);

// ReadRegularFile up to kMaxProgramBytes, for kxpack's own files.
bool ReadFile(const std::string& path, std::vector<unsigned char>* bytes);

// Writes through a new temporary file beside path ("<path>.kxpack-tmp.XXXXXX")
// and renames it into place, so the path holds either the old file or the
// whole new one, and nothing planted at a temporary name is written
// through. Temporary files of an earlier kxpack that was killed are removed
// first. mode: the file's permissions.
bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes, unsigned mode = 0755);

// Writes a new folder of files (name in the folder, bytes) through a new
// temporary folder beside path ("<path>.kxpack-tmp.XXXXXX") renamed into
// place, so that path holds either what it held before or every file.
// path must not exist, or be an empty folder, which the new one replaces.
// Temporary folders of an earlier kxpack that was killed are removed first.
// False with a message.
bool WriteFolderAtomically(const std::string& path,
                           const std::vector<std::pair<std::string, std::vector<unsigned char>>>& files,
                           std::string* error);

std::string Lower(std::string text);

// A new folder "kxpack.XXXXXX" under the temporary-files folder, removed
// with everything in it when the object goes. path is empty when it could
// not be made. The folder stays locked while the object lives, so that a
// later kxpack can tell the folders of killed ones from those in use and
// removes them when it makes its own.
struct TempFolder {
  std::string path;
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

 private:
  int lock_ = -1;
};

#endif
