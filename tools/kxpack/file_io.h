// Files and folders for kxpack: whole-file reads, writes that never leave a
// partial file, and a private scratch folder.
#ifndef KX_TOOLS_KXPACK_FILE_IO_H
#define KX_TOOLS_KXPACK_FILE_IO_H

#include <string>
#include <vector>

bool ReadFile(const std::string& path, std::vector<unsigned char>* bytes);

// Writes through "<path>.kxpack-tmp" and renames it into place, so the path
// holds either the old file or the whole new one. mode: the file's permissions.
bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes, unsigned mode = 0755);

std::string Lower(std::string text);

// Every file under folder is readable and there is at least one entry: 7-Zip
// would otherwise only warn. False with a message.
bool CheckReadableTree(const std::string& folder, std::string* error);

// A new folder under the temporary-files folder, removed with everything in
// it when the object goes. path is empty when it could not be made.
struct TempFolder {
  std::string path;
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
};

#endif
