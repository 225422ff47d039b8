#include "tools/kxpack/build_inputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include "tools/kxpack/container_file.h"

namespace {

// One build per process: the inputs of this run, by identity, with the
// path each was first read by.
std::map<std::pair<uint64_t, uint64_t>, std::string>& Inputs() {
  static std::map<std::pair<uint64_t, uint64_t>, std::string> inputs;
  return inputs;
}

}  // namespace

bool ReadInputFile(const std::string& path, uint64_t maxBytes, std::vector<unsigned char>* bytes, std::string* error) {
  FileIdentity identity;
  if (!ReadRegularFile(path, maxBytes, bytes, error, &identity)) return false;
  NoteInput(identity, path);
  return true;
}

void NoteInput(const FileIdentity& identity, const std::string& path) {
  Inputs().emplace(std::make_pair(identity.device, identity.inode), path);
}

bool CheckOutputPath(const std::string& out, std::string* error) {
  struct stat status;
  if (stat(out.c_str(), &status) != 0) {
    if (errno == ENOENT) return true;
    *error = "cannot write --out " + out + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    *error = "--out " + out + " exists and is not a regular file; kxpack writes a new file or replaces an earlier one";
    return false;
  }
  auto input = Inputs().find({static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)});
  if (input != Inputs().end()) {
    *error = "--out " + out + (input->second == out ? " is" : " is the same file as " + input->second + ",") +
             " an input of this build; kxpack never writes over its inputs";
    return false;
  }
  return true;
}

bool WriteOutputFile(const std::string& out, const std::vector<unsigned char>& bytes, std::string* error) {
  if (!CheckOutputPath(out, error)) return false;
  if (!WriteFileAtomically(out, bytes)) {
    *error = "cannot write " + out;
    return false;
  }
  return true;
}

bool RemoveStaleOutput(const std::string& out) {
  std::string error;
  struct stat status;
  // A failed build may not have read every input yet: only a package is
  // ever taken for the stale output.
  return lstat(out.c_str(), &status) == 0 && CheckOutputPath(out, &error) && LooksLikePackageFile(out) &&
         unlink(out.c_str()) == 0;
}
